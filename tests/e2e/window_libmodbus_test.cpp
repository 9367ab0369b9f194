// The real window against a libmodbus RTU server, joined by socat: two
// pseudo-terminals, since libmodbus opens its terminal by path.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <filesystem>
#include <string>

#include "tests/e2e/e2e_window.h"
#include "tests/e2e/process.h"
#include "tests/support/pty.h"

namespace rilvano::e2e {
namespace {

class WindowAgainstLibmodbus : public WindowE2E {};

TEST_F(WindowAgainstLibmodbus, ReadWriteAndOutOfRangeRead) {
  const auto serverLink = Dir() / "server";
  const auto windowLink = Dir() / "window";
  Child socat({"socat", "pty,raw,echo=0,link=" + serverLink.string(), "pty,raw,echo=0,link=" + windowLink.string()});
  ASSERT_TRUE(test::ProcessEventsUntil(
      [&] { return std::filesystem::is_symlink(serverLink) && std::filesystem::is_symlink(windowLink); }, 10000));
  Child server({RILVANO_MODBUS_SERVER_PATH, serverLink.string(), "16", "60"});
  ASSERT_EQ(server.Line(10000).value_or("(nothing)"), "ready");
  const std::string device = std::filesystem::read_symlink(windowLink).string();
  const std::string port = test::PtsPortName(device);

  // Register k of the server holds 0x1000 + k.
  const ByteString f1 = Sealed({1, 3, 0, 0, 0, 2});
  const ByteString r1 = Sealed({1, 3, 4, 0x10, 0x00, 0x10, 0x01});
  const std::string read1 = "\r\nПринят ответ:  Длинна= 4\r\n#= 0 Данные= 4096\r\n#= 1 Данные= 4097\r\n CRC=" +
                            HexList(r1.substr(7, 1)) + HexList(r1.substr(8)).substr(0, 2) + " Good\r\n";
  const ByteString f2 = Sealed({1, 6, 0, 3, 0x12, 0x34});
  const std::string echo2 = "\r\nПринят ответ: Адрес ячейки= 3 Данные= 4660 CRC=" + HexList(f2.substr(6, 1)) +
                            HexList(f2.substr(7)).substr(0, 2);
  const ByteString f3 = Sealed({1, 3, 0, 3, 0, 1});
  const ByteString r3 = Sealed({1, 3, 2, 0x12, 0x34});
  const std::string read3 = "\r\nПринят ответ:  Длинна= 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n";
  Transcript t;
  t.Answered(t.read, f1, r1, read1);
  t.Answered(t.write, f2, f2, echo2);
  t.Answered(t.read, f3, r3, read3);
  t.Refused(t.read, Sealed({1, 3, 0, 16, 0, 1}), Sealed({1, 0x83, 2}));
  {
    QtView w;
    w.show();
    Open(w, port);
    w.Text9->setText("2");
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text8, PaneView(read1 + "\r\n"))) << QtView::PaneText(w.Text8);
    w.Text4->setText("3");
    w.Text5->setText("4660");
    ASSERT_TRUE(ClickAndWait(w.Command1, w.Text6, PaneView(echo2 + "\r\n"))) << QtView::PaneText(w.Text6);
    w.Text7->setText("3");
    w.Text9->setText("1");
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text8, PaneView(read3 + "\r\n"))) << QtView::PaneText(w.Text8);
    w.Text7->setText("16");
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text2, PaneView(kException + "\r\n"))) << QtView::PaneText(w.Text2);
    test::ProcessEventsFor(300);

    ExpectPanes(w, t);
    w.BTNCloseCom->click();
  }
  EXPECT_EQ(MaskedLog(port), t.log);

  // With the line gone the server ends by itself instead of spinning.
  socat.Stop();
  EXPECT_EQ(server.Wait(10000).value_or(-1), 0);
  EXPECT_EQ(server.Output(1000), "answered function 3\nanswered function 6\nanswered function 3\n"
                                 "answered function 3\nline closed\n");
}

}  // namespace
}  // namespace rilvano::e2e
