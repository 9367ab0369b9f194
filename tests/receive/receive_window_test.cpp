// The receive poller in the real window: packets through a pseudo-terminal
// (panes and log byte for byte), and scripted reads through a fake backend
// (lamp colours, FlushPort calls per tick).
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "serial/SerialPort.h"
#include "tests/receive/reply_cases.h"
#include "tests/support/fake_platform.h"
#include "tests/window/harness.h"
#include "window/qt/QtView.h"

namespace rilvano {
namespace {

using test::PaneView;

// Built from the packet's own bytes, so the log check is independent of the
// decoder: heading, bytes above 31 unchanged, hex list.
std::string RawBlockLogBytes(const std::string& packet) {
  std::string printable;
  for (char c : packet) {
    if (static_cast<unsigned char>(c) > 31) printable += c;
  }
  return "\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:\r\n" + printable + "\r\n" + HexList(packet) + "\r\n\r\n";
}

std::string RawBlockPane(const std::string& packet) { return PaneView(test::RawText(packet)); }

using test::FromHex;
using test::kException;
using test::kReadHead;
using test::ReplyCase;

class WindowTest : public test::TempDirTest {
 protected:
  // The log as written once the window has closed it; taken away, so the
  // next window of the same test starts a new file.
  std::string TakeLog() {
    for (const auto& entry : std::filesystem::directory_iterator(Dir())) {
      if (entry.path().filename().string().rfind("Rilvano_log_", 0) != 0) continue;
      std::string bytes = test::ReadFileBytes(entry.path());
      std::filesystem::remove(entry.path());
      return bytes;
    }
    return {};
  }
  void Open(QtView& w, const std::string& port, const char* address) {
    w.txt_0->setText(QString::fromStdString(port));
    w.Text1->setText(QString::fromUtf8(address));
    w.form.BTNOpenCom_Click();
    w.TMRComm->stop();  // the test drives the ticks itself
  }
};

class PtyWindowTest : public WindowTest {
 protected:
  // Feeds one packet, closes, and checks the log's last entries byte for byte.
  // Returns the information pane as it was before Close emptied it.
  std::string ReceiveAndCheckLog(QtView& w, const char* address, const std::string& packet, const std::string& text) {
    test::PtyPair pty;
    Open(w, pty.PortName(), address);
    pty.Send(packet);
    w.form.TMRComm_Timer();
    const std::string info = QtView::PaneText(w.Text2);
    w.form.BTNCloseCom_Click();

    const std::string log = TakeLog();
    const std::string tail = RawBlockLogBytes(packet) + (text.empty() ? "" : Utf8ToCp1251(text) + "\r\n");
    EXPECT_GE(log.size(), tail.size());
    if (log.size() < tail.size()) return info;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << HexList(log.substr(log.size() - tail.size()));
    // One time stamp line directly before the raw block.
    const std::string head = log.substr(0, log.size() - tail.size());
    EXPECT_TRUE(std::regex_search(head, std::regex("\r\n[0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\\.[0-9]{1,3}\r\n$"))) << head;
    return info;
  }
};

class PtyReceive : public PtyWindowTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(PtyReceive, PanesAndLogByteForByte) {
  const ReplyCase& c = GetParam();
  QtView w;
  const std::string info = ReceiveAndCheckLog(w, "1", c.packet, c.text);
  const std::string line = c.text.empty() ? "" : PaneView(c.text + "\r\n");
  using K = receive::ReplyKind;
  EXPECT_EQ(info, RawBlockPane(c.packet) + (c.kind == K::Exception ? line : ""));
  EXPECT_EQ(QtView::PaneText(w.Text6), c.kind == K::WriteEcho ? line : "");
  EXPECT_EQ(QtView::PaneText(w.Text8), c.kind == K::ReadReply ? line : "");
}

const auto kName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(WorkedExamples, PtyReceive, ::testing::ValuesIn(test::WorkedExamples()), kName);
INSTANTIATE_TEST_SUITE_P(EdgeCases, PtyReceive, ::testing::ValuesIn(test::EdgeCases()), kName);
INSTANTIATE_TEST_SUITE_P(ShortPackets, PtyReceive, ::testing::ValuesIn(test::ShortPackets()), kName);

// Another slave, or an address no byte can equal: shown and logged raw only.
TEST_F(PtyWindowTest, OtherAddressesGetTheRawBlockOnly) {
  for (const char* address : {"2", "1.5", ""}) {
    QtView w;
    const std::string packet = FromHex("01 03 02 12 34 B5 33");
    EXPECT_EQ(ReceiveAndCheckLog(w, address, packet, ""), RawBlockPane(packet)) << address;
    EXPECT_EQ(QtView::PaneText(w.Text8), "") << address;
  }
}

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

class FakeReceive : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SerialPort::SetPlatform(&fake_);
    window_ = std::make_unique<QtView>();
    Open(*window_, "COM3:", "1");
  }
  void TearDown() override {
    window_->form.BTNCloseCom_Click();
    window_.reset();
    SerialPort::SetPlatform(nullptr);
    WindowTest::TearDown();
  }
  // Runs one tick on `read`; returns the FlushPort calls it made.
  int Tick(const std::string& read) {
    fake_.incoming = read;
    const std::size_t before = fake_.Calls("FlushFileBuffers").size();
    window_->form.TMRComm_Timer();
    return static_cast<int>(fake_.Calls("FlushFileBuffers").size() - before);
  }

  test::FakePlatform fake_;
  std::unique_ptr<QtView> window_;
};

TEST_F(FakeReceive, LampColoursFromTickToTick) {
  constexpr std::uint32_t white = 0xFFFFFF, grey = 0x808080, red = 0x0000FF, other = 0x00C000;
  struct Case {
    std::uint32_t before;
    std::string read;
    std::uint32_t after;
  };
  const std::string packet = FromHex("05 03");
  const std::vector<Case> table = {{white, "", grey},      {grey, "", white},     {red, "", white},
                                   {other, "", white},     {white, packet, red},  {grey, packet, red},
                                   {red, packet, red},     {other, packet, red}};
  for (const Case& c : table) {
    window_->SetLampColor(c.before);
    Tick(c.read);
    EXPECT_EQ(window_->LampColor(), c.after) << std::hex << c.before << " read " << c.read.size();
  }
}

TEST_F(FakeReceive, FlushPortCallsPerTick) {
  const std::vector<std::pair<std::string, int>> table = {
      {"", 1},                                  // ReadPort's own flush
      {FromHex("02 03 02 12 34 B5 33"), 2},     // another slave: raw block only
      {FromHex("01 03 02 12 34 B5 33"), 3},     // read reply
      {FromHex("01 06 00 10 12 34 85 78"), 3},  // write echo
      {FromHex("01 86 02"), 3},                 // exception
      {FromHex("01 11 05 41 42"), 3},           // not decoded
      {FromHex("01"), 3},                       // too short to dispatch
      {FromHex("01 03 02 12 34 B5"), 3},        // too short for its register
  };
  for (const auto& [read, flushes] : table) EXPECT_EQ(Tick(read), flushes) << HexList(read);
}

}  // namespace
}  // namespace rilvano
