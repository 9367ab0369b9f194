// The receive poller in the real window over a pseudo-terminal: how the
// line's timing splits or joins replies. Each reply's panes and log are among
// the shared view cases; lamp and flush calls per tick are form tests.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include <chrono>
#include <thread>

#include "modbus/bytes.h"
#include "tests/receive/reply_cases.h"
#include "tests/window/harness.h"
#include "window/qt/QtView.h"

namespace rilvano {
namespace {

using test::PaneView;

std::string RawBlockPane(const std::string& packet) { return PaneView(test::RawText(packet)); }

using test::FromHex;
using test::kReadHead;

class WindowTest : public test::TempDirTest {
 protected:
  void Open(QtView& w, const std::string& port, const char* address) {
    w.txt_0->setText(QString::fromStdString(port));
    w.Text1->setText(QString::fromUtf8(address));
    w.form.BTNOpenCom_Click();
    w.TMRComm->stop();  // the test drives the ticks itself
  }
};

TEST_F(WindowTest, PauseSplitsAReplyAndBackToBackRepliesShareOneRead) {
  test::PtyPair pty;
  QtView w;
  Open(w, pty.PortName(), "1");

  // 40 ms of silence is past the 20 ms inter-byte time-out: two reads.
  pty.Send(FromHex("01 03 02 12"));
  std::thread slave([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    pty.Send(FromHex("34 B5 33"));
  });
  w.form.TMRComm_Timer();
  w.form.TMRComm_Timer();
  slave.join();
  EXPECT_EQ(QtView::PaneText(w.Text2), RawBlockPane(FromHex("01 03 02 12")) + RawBlockPane(FromHex("34 B5 33")));
  EXPECT_EQ(QtView::PaneText(w.Text8), "");  // neither piece is a whole reply

  // Without a pause: one read, decoded from the first header, CRC checked
  // against the last two bytes of the whole read.
  w.form.Command7_Click();
  const std::string both = FromHex("01 03 02 12 34 B5 33 01 06 00 10 12 34 85 78");
  pty.Send(both);
  w.form.TMRComm_Timer();
  EXPECT_EQ(QtView::PaneText(w.Text2), RawBlockPane(both));
  EXPECT_EQ(QtView::PaneText(w.Text8), PaneView(kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33- Bad  \r\n"));
  w.form.BTNCloseCom_Click();
}

}  // namespace
}  // namespace rilvano
