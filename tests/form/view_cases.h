// Cases that hold for every view: each view's test runs this one table
// through its own ViewDriver. The serial line is the recording backend
// (FakePlatform), so the frames on the wire and the replies are exact and
// the same on every system. No toolkit and nothing POSIX-only here.
//
//   class QtCases : public test::ViewCaseTest {};
//   TEST_P(QtCases, Holds) { QtDriver driver; Run(driver); }
//   INSTANTIATE_TEST_SUITE_P(Qt, QtCases, ::testing::ValuesIn(test::ViewCases()), test::ViewCaseName);
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "form/controls.h"
#include "form/frmSerial.h"
#include "form/logfile.h"
#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "requests/requests.h"
#include "serial/SerialPort.h"
#include "tests/receive/reply_cases.h"
#include "tests/requests/request_cases.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/form_seam.h"
#include "tests/support/view_driver.h"

namespace rilvano::test {

class ViewCaseTest;

struct ViewCase {
  const char* name;
  void (*run)(ViewDriver& d, ViewCaseTest& t);
};

inline std::ostream& operator<<(std::ostream& os, const ViewCase& c) { return os << c.name; }

inline std::string ViewCaseName(const ::testing::TestParamInfo<ViewCase>& info) { return info.param.name; }

// A fresh working directory (the log goes there), the recording serial
// backend in place of the real one, and every message box captured.
class ViewCaseTest : public TempDirTest, public ::testing::WithParamInterface<ViewCase> {
 public:
  FakePlatform platform;
  BoxCapture boxes;

  using TempDirTest::Dir;

  void Run(ViewDriver& d) { GetParam().run(d, *this); }

  // The log file of the port the cases open.
  static std::string Log() { return ReadFileBytes("Rilvano_log_COM3.txt"); }

 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SerialPort::SetPlatform(&platform);
  }
  void TearDown() override {
    SerialPort::SetPlatform(nullptr);
    TempDirTest::TearDown();
  }
};

namespace view_cases {

inline const std::string kSendHead = std::string(kSendHeader);

// The header each Open writes, as the file holds it.
inline std::string Header(const std::string& startTime) {
  return Utf8ToCp1251(startTime) + "\r\nSTART Rilvano V3.0\r\n\r\n";
}

// Log bytes with every time-stamp line written as "T".
inline std::string MaskStamps(const std::string& log) {
  static const std::regex stamp("(^|\r\n)[0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\\.[0-9]{1,3}\r\n");
  // Twice: a match eats the CR LF that starts the next one.
  const std::string once = std::regex_replace(log, stamp, "$1T\r\n");
  return std::regex_replace(once, stamp, "$1T\r\n");
}

// The log entry of one frame sent.
inline std::string SentEntry(const std::string& frameHex) {
  return "T\r\n" + Utf8ToCp1251(kSendHead) + frameHex + " \r\n";
}

// The log entry of one packet received, built from its own bytes so the
// check does not lean on the decoder; `decoded` is the decoder's line.
inline std::string ReceivedEntry(const std::string& packet, const std::string& decoded) {
  std::string printable;
  for (char c : packet) {
    if (static_cast<unsigned char>(c) > 31) printable += c;
  }
  return "T\r\n\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:\r\n" + printable + "\r\n" + HexList(packet) + "\r\n\r\n" +
         (decoded.empty() ? "" : Utf8ToCp1251(decoded) + "\r\n");
}

// Controls that change when the port opens or closes, in their closed state.
inline void ExpectClosedState(ViewDriver& d) {
  for (const ControlInfo& c : kControls) EXPECT_EQ(d.Enabled(c.id), c.enabled) << c.name;
  EXPECT_FALSE(d.form().view().TimerRunning());
}

inline void ExpectOpenState(ViewDriver& d) {
  for (const ControlInfo& c : kControls) EXPECT_EQ(d.Enabled(c.id), c.tag.empty() ? c.enabled : !c.enabled) << c.name;
  EXPECT_TRUE(d.form().view().TimerRunning());
}

inline void Open(ViewDriver& d, ViewCaseTest& t) {
  d.Type(Control::txt_0, "COM3:");
  d.Click(Control::BTNOpenCom);
  ASSERT_TRUE(d.Enabled(Control::BTNCloseCom));
  ASSERT_TRUE(t.boxes.boxes.empty()) << t.boxes.boxes[0].text;
}

inline Control ButtonOf(Command c) {
  switch (c) {
    case Command::Read: return Control::Command3;
    case Command::Write: return Control::Command1;
    case Command::CharWrite: return Control::Command4;
    case Command::Info: return Control::Command2;
  }
  return Control::Command2;
}

inline Control PaneOf(Command c) {
  switch (c) {
    case Command::Read: return Control::Text8;
    case Command::Write:
    case Command::CharWrite: return Control::Text6;
    case Command::Info: return Control::Text2;
  }
  return Control::Text2;
}

inline Control ClearButtonOf(Control pane) {
  switch (pane) {
    case Control::Text6: return Control::Command5;
    case Control::Text8: return Control::Command6;
    default: return Control::Command7;
  }
}

inline void TypeFields(ViewDriver& d, const Fields& f) {
  d.Type(Control::Text1, f.slave);
  switch (f.command) {
    case Command::Read:
      d.Type(Control::Text7, f.first);
      d.Type(Control::Text9, f.second);
      break;
    case Command::Write:
      d.Type(Control::Text4, f.first);
      d.Type(Control::Text5, f.second);
      break;
    case Command::CharWrite:
      d.Type(Control::Text4, f.first);
      d.Type(Control::Text3, f.second);
      break;
    case Command::Info: break;
  }
}

inline void ClearPanes(ViewDriver& d) {
  for (Control button : {Control::Command5, Control::Command6, Control::Command7}) d.Click(button);
}

// Runs the window until a tick has taken `packet` off the line.
inline void Deliver(ViewDriver& d, ViewCaseTest& t, const std::string& packet) {
  t.platform.incoming = packet;
  // The tick that takes the packet also shows and logs it.
  for (int waited = 0; waited < 3000 && !t.platform.incoming.empty(); waited += 20) d.RunFor(20);
  ASSERT_TRUE(t.platform.incoming.empty()) << "no tick read the packet";
}

// ---- the cases

inline void InitialState(ViewDriver& d, ViewCaseTest& t) {
  for (const ControlInfo& c : kControls) {
    if (c.kind != ControlKind::Lamp) {
      EXPECT_EQ(d.Text(c.id), c.text) << c.name;
    }
  }
  ExpectClosedState(d);
  EXPECT_EQ(d.Lamp(), 0xC0C0C0u);
  const frmSerial& f = d.form();
  EXPECT_EQ(f.NewLine, "");
  EXPECT_EQ(f.LogFile, 0);
  EXPECT_EQ(f.StartTime, "");
  EXPECT_EQ(f.Packet, "");
  EXPECT_EQ((RequestNumbers{f.NumValue, f.Word1Hi, f.Word1Lo, f.Word2Hi, f.Word2Lo}), (RequestNumbers{0, 0, 0, 0, 0}));

  // The request buttons are disabled until Open: a click does nothing.
  for (Control button : {Control::Command1, Control::Command2, Control::Command3, Control::Command4,
                         Control::BTNCloseCom}) {
    d.Click(button);
  }
  d.RunFor(50);
  EXPECT_EQ(d.Lamp(), 0xC0C0C0u) << "a tick ran while closed";
  EXPECT_TRUE(t.platform.log.empty());
  EXPECT_TRUE(t.boxes.boxes.empty());
  for (Control pane : {Control::Text2, Control::Text6, Control::Text8}) EXPECT_EQ(d.Text(pane), "");
  EXPECT_TRUE(std::filesystem::is_empty(t.Dir())) << "a log was written while closed";
}

inline void OpenCloseAndUnload(ViewDriver& d, ViewCaseTest& t) {
  d.Type(Control::Text10, "19200");
  Open(d, t);
  EXPECT_EQ(t.platform.Calls("CreateFile"), std::vector<std::string>{"COM3:"});
  EXPECT_EQ(t.platform.Calls("BuildCommDCB"), std::vector<std::string>{"19200,n,8,1"});
  ExpectOpenState(d);
  const std::string first = d.form().StartTime;
  EXPECT_NE(first, "");
  EXPECT_EQ(d.form().NewLine, "\r\n");
  EXPECT_EQ(d.form().LogFile, 1);
  EXPECT_EQ(t.Log(), Header(first));

  // The timer runs: the lamp blinks white and grey.
  d.RunFor(60);
  EXPECT_TRUE(d.Lamp() == 0xFFFFFFu || d.Lamp() == 0x808080u) << std::hex << d.Lamp();

  d.form().AppendPane(Control::Text2, "info");
  d.form().AppendPane(Control::Text6, "write");
  d.form().AppendPane(Control::Text8, "read");
  d.Click(Control::BTNCloseCom);
  EXPECT_EQ(t.platform.Calls("CloseHandle").size(), 1u);
  ExpectClosedState(d);
  EXPECT_EQ(d.Text(Control::Text2), "");  // Close empties the information pane only
  EXPECT_EQ(d.Text(Control::Text6), "write");
  EXPECT_EQ(d.Text(Control::Text8), "read");
  EXPECT_EQ(t.Log(), Header(first));  // no trailer

  // A second Open appends its own header to the same file.
  d.Click(Control::BTNOpenCom);
  ExpectOpenState(d);
  const std::string both = Header(first) + Header(d.form().StartTime);
  EXPECT_EQ(t.Log(), both);

  // Closing the window lets go of the port and the log.
  d.Close();
  EXPECT_EQ(t.platform.Calls("CloseHandle").size(), 2u);
  EXPECT_EQ(t.Log(), both);
  EXPECT_TRUE(t.boxes.boxes.empty());
}

inline void RequestFrames(ViewDriver& d, ViewCaseTest& t) {
  Open(d, t);
  std::string expectedLog = Header(d.form().StartTime);
  for (const FrameCase& c : FrameCases()) {
    SCOPED_TRACE(::testing::PrintToString(static_cast<const Fields&>(c)));
    const Control pane = PaneOf(c.command);
    d.Click(ClearButtonOf(pane));
    TypeFields(d, c);
    const std::size_t writes = t.platform.writes.size();
    d.Click(ButtonOf(c.command));

    const std::string frame = FromHex(c.frame);
    ASSERT_EQ(t.platform.writes.size(), writes + 1);
    EXPECT_EQ(HexList(t.platform.writes.back()), HexList(frame));
    EXPECT_EQ(HexList(d.form().Packet), HexList(frame));
    EXPECT_EQ(d.Text(pane), "\n" + kSendHead + c.frame + " " + (c.command == Command::Info ? "\n\n" : ""));
    expectedLog += SentEntry(c.frame);
  }
  EXPECT_TRUE(t.boxes.boxes.empty());
  d.Click(Control::BTNCloseCom);
  EXPECT_EQ(MaskStamps(t.Log()), expectedLog);
}

// A frame the port did not take says so under its echo, in the pane and the
// log; the echo itself stays as it was tried, and nothing is retried.
inline void RequestsThePortRefused(ViewDriver& d, ViewCaseTest& t) {
  struct Row {
    bool opens;
    std::uint32_t accepted, error;
    Command command;
    const char* frame;
    const char* says;
  };
  const Row rows[] = {
      {false, 0, 2, Command::Read, "01 03 00 00 00 01 84 0A", "Пакет не отправлен: порт не открыт (ошибка 2)"},
      {true, 0, 5, Command::Info, "01 11 C0 2C", "Пакет не отправлен (ошибка 5)"},
      {true, 3, 0, Command::Write, "01 06 00 00 00 00 89 CA", "Пакет не отправлен: передано 3 из 8 байт"},
      {true, 8, 5, Command::Read, "01 03 00 00 00 01 84 0A", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.says);
    t.platform.createOk = r.opens;
    t.platform.writeLimit = r.accepted;
    t.platform.error = r.error;
    t.platform.writes.clear();
    d.Type(Control::txt_0, "COM3:");
    d.Click(Control::BTNOpenCom);
    d.Click(ClearButtonOf(PaneOf(r.command)));
    d.Click(ButtonOf(r.command));
    EXPECT_EQ(t.platform.writes.size(), r.opens ? 1u : 0u);
    const std::string notice = *r.says ? "\n" + std::string(r.says) : "";
    EXPECT_EQ(d.Text(PaneOf(r.command)),
              "\n" + kSendHead + r.frame + " " + notice + (r.command == Command::Info ? "\n\n" : ""));
    d.Click(Control::BTNCloseCom);
    const std::string log = MaskStamps(t.Log());
    const std::string entry = SentEntry(r.frame) + (*r.says ? Utf8ToCp1251(r.says) + "\r\n" : "");
    EXPECT_EQ(log.substr(log.size() - std::min(log.size(), entry.size())), entry);
  }
  EXPECT_TRUE(t.boxes.boxes.empty());
}

inline void Refusals(ViewDriver& d, ViewCaseTest& t) {
  Open(d, t);
  const std::string log = t.Log();
  for (const RefusalCase& c : RefusalCases()) {
    SCOPED_TRACE(::testing::PrintToString(static_cast<const Fields&>(c)));
    t.boxes.boxes.clear();
    frmSerial& f = d.form();
    f.Packet = "before";
    f.NumValue = f.Word1Hi = f.Word1Lo = f.Word2Hi = f.Word2Lo = 7;
    TypeFields(d, c);
    d.Click(ButtonOf(c.command));

    EXPECT_TRUE(t.platform.writes.empty());
    EXPECT_EQ(f.Packet, "before");
    EXPECT_EQ((RequestNumbers{f.NumValue, f.Word1Hi, f.Word1Lo, f.Word2Hi, f.Word2Lo}),
              (RequestNumbers{7, 7, 7, 7, 7}));
    EXPECT_EQ(d.Text(PaneOf(c.command)), "");
    ASSERT_EQ(t.boxes.boxes.size(), 1u);
    EXPECT_EQ(t.boxes.boxes[0].title, std::string(kRefusalTitle));
    EXPECT_EQ(t.boxes.boxes[0].icon, BoxIcon::Warning);
    for (const char* fragment : c.says) {
      EXPECT_NE(t.boxes.boxes[0].text.find(fragment), std::string::npos) << fragment;
    }
    EXPECT_TRUE(f.view().TimerRunning()) << "the timer stays held after the box";
  }
  EXPECT_EQ(t.Log(), log);
}

inline void ClearButtons(ViewDriver& d, ViewCaseTest&) {
  const Control panes[] = {Control::Text2, Control::Text6, Control::Text8};
  for (Control pane : panes) {
    SCOPED_TRACE(std::string(InfoOf(pane).name));
    for (Control p : panes) {
      d.Click(ClearButtonOf(p));
      d.form().AppendPane(p, std::string(InfoOf(p).name) + "\r\ntext");
    }
    d.Click(ClearButtonOf(pane));
    for (Control p : panes) EXPECT_EQ(d.Text(p), p == pane ? "" : std::string(InfoOf(p).name) + "\ntext");
    d.Click(ClearButtonOf(pane));  // an empty pane stays empty
    EXPECT_EQ(d.Text(pane), "");
  }
}

struct StepCase {
  const char* before;
  bool up;
  const char* after;
};

inline std::vector<StepCase> StepCases() {
  return {{"255", true, " 256"}, {"0", false, "-1"},   {"abc", true, " 1"},      {"-1", true, " 0"},
          {"2.5", true, " 3.5"}, {"65535", true, " 65536"}, {" 1", false, " 0"},
          // No finite number: the field stays, rather than become a text
          // that the next read takes for register 0.
          {"1e999", true, "1e999"}, {"-1e999", false, "-1e999"}, {"1e999", false, "1e999"}};
}

// The step buttons work open and closed and never touch the port.
inline void StepButtons(ViewDriver& d, ViewCaseTest& t) {
  for (bool open : {false, true}) {
    if (open) Open(d, t);
    for (const StepCase& c : StepCases()) {
      SCOPED_TRACE(std::string(c.before) + (c.up ? " +" : " -") + (open ? " open" : " closed"));
      d.Type(Control::Text7, c.before);
      d.Click(c.up ? Control::Command8 : Control::Command9);
      EXPECT_EQ(d.Text(Control::Text7), c.after);
    }
  }
  EXPECT_EQ(d.Text(Control::Text8), "");
  EXPECT_TRUE(t.platform.writes.empty());
  EXPECT_TRUE(t.boxes.boxes.empty());
}

// Each packet read by the tick: raw block in the information pane, the
// decoded text where it belongs, and the log's new bytes exactly.
inline void RepliesReadByTheTick(ViewDriver& d, ViewCaseTest& t) {
  Open(d, t);
  using K = receive::ReplyKind;
  std::vector<ReplyCase> cases = WorkedExamples();
  for (const auto& more : {EdgeCases(), ShortPackets()}) cases.insert(cases.end(), more.begin(), more.end());
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClearPanes(d);
    const std::size_t logSize = t.Log().size();
    Deliver(d, t, c.packet);
    const std::string line = c.text.empty() ? "" : PaneView(c.text + "\r\n");
    EXPECT_EQ(d.Text(Control::Text2), PaneView(RawText(c.packet)) + (c.kind == K::Exception ? line : ""));
    EXPECT_EQ(d.Text(Control::Text6), c.kind == K::WriteEcho ? line : "");
    EXPECT_EQ(d.Text(Control::Text8), c.kind == K::ReadReply ? line : "");
    EXPECT_EQ(MaskStamps(t.Log().substr(logSize)), ReceivedEntry(c.packet, c.text));
  }

  // Another slave, or an address no byte can equal: raw block only.
  for (const char* address : {"2", "1.5", ""}) {
    SCOPED_TRACE(address);
    ClearPanes(d);
    d.Type(Control::Text1, address);
    const std::string packet = FromHex("01 03 02 12 34 B5 33");
    const std::size_t logSize = t.Log().size();
    Deliver(d, t, packet);
    EXPECT_EQ(d.Text(Control::Text2), PaneView(RawText(packet)));
    EXPECT_EQ(d.Text(Control::Text8), "");
    EXPECT_EQ(MaskStamps(t.Log().substr(logSize)), ReceivedEntry(packet, ""));
  }
  EXPECT_TRUE(t.boxes.boxes.empty());
}

// One short session, and the log file it leaves, byte for byte.
inline void LogOfASession(ViewDriver& d, ViewCaseTest& t) {
  Open(d, t);
  d.Click(Control::Command3);
  Deliver(d, t, FromHex("01 03 02 12 34 B5 33"));
  d.Type(Control::Text4, "5");
  d.Type(Control::Text5, "1000");
  d.Click(Control::Command1);
  Deliver(d, t, FromHex("01 06 00 05 03 E8 99 75"));
  d.Type(Control::Text1, "2");
  d.Click(Control::Command2);
  Deliver(d, t, FromHex("01 83 02 C0 F1"));  // not from slave 2: shown raw, not decoded
  EXPECT_EQ(d.Text(Control::Text8), "\n" + kSendHead +
                                        "01 03 00 00 00 01 84 0A \nПринят ответ:  Длинна= 2\n#= 0 Данные= 4660\n"
                                        " CRC=B5 33 Good\n\n");
  EXPECT_EQ(d.Text(Control::Text6),
            "\n" + kSendHead + "01 06 00 05 03 E8 99 75 \nПринят ответ: Адрес ячейки= 5 Данные= 1000 CRC=99 75\n");
  const std::string start = d.form().StartTime;
  d.Click(Control::BTNCloseCom);
  d.Close();

  const std::string expected =
      Utf8ToCp1251(start) +
      "\r\nSTART Rilvano V3.0\r\n\r\n"
      "T\r\n\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0 \xEF\xE0\xEA\xE5\xF2\xE0:   01 03 00 00 00 01 84 0A \r\n"
      "T\r\n\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:\r\n4\xB5" "3\r\n01 03 02 12 34 B5 33 \r\n\r\n"
      "\r\n\xCF\xF0\xE8\xED\xFF\xF2 \xEE\xF2\xE2\xE5\xF2:  \xC4\xEB\xE8\xED\xED\xE0= 2\r\n"
      "#= 0 \xC4\xE0\xED\xED\xFB\xE5= 4660\r\n CRC=B5 33 Good\r\n\r\n"
      "T\r\n\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0 \xEF\xE0\xEA\xE5\xF2\xE0:   01 06 00 05 03 E8 99 75 \r\n"
      "T\r\n\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:\r\n\xE8\x99u\r\n01 06 00 05 03 E8 99 75 \r\n\r\n"
      "\r\n\xCF\xF0\xE8\xED\xFF\xF2 \xEE\xF2\xE2\xE5\xF2: \xC0\xE4\xF0\xE5\xF1 \xFF\xF7\xE5\xE9\xEA\xE8= 5 "
      "\xC4\xE0\xED\xED\xFB\xE5= 1000 CRC=99 75\r\n"
      "T\r\n\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0 \xEF\xE0\xEA\xE5\xF2\xE0:   02 11 C0 DC \r\n"
      "T\r\n\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:\r\n\x83\xC0\xF1\r\n01 83 02 C0 F1 \r\n\r\n";
  EXPECT_EQ(MaskStamps(t.Log()), expected);
  EXPECT_TRUE(t.boxes.boxes.empty());
}

// The boxes the view itself puts up, as the operator sees them: the title,
// the text and the icon that tells how grave it is.
inline void BoxesOnScreen(ViewDriver& d, ViewCaseTest& t) {
  struct Row {
    const char* what;
    void (*provoke)(ViewDriver& d, ViewCaseTest& t);
    std::string title;
    BoxIcon icon;
    std::string textStart;
  };
  const Row rows[] = {
      {"the log cannot be made",
       [](ViewDriver& d, ViewCaseTest&) {
         d.Type(Control::txt_0, "a/b:");  // no folder "Rilvano_log_a"
         d.Click(Control::BTNOpenCom);
       },
       "Error#" + std::to_string(kLogOpenError), BoxIcon::Critical,
       "Не удалось открыть файл журнала Rilvano_log_a/b:.txt: путь не найден."},
      {"the port cannot be set up",
       [](ViewDriver& d, ViewCaseTest& t) {
         t.platform.timeoutsOk = false;
         d.Type(Control::txt_0, "COM3:");
         d.Click(Control::BTNOpenCom);
       },
       "Rilvano", BoxIcon::None, "Unable to set timeouts for port COM3: Error: 0"},
      {"a request is refused",
       [](ViewDriver& d, ViewCaseTest&) {
         d.Type(Control::Text1, "256");
         d.Click(Control::Command3);
       },
       std::string(kRefusalTitle), BoxIcon::Warning,
       "Поле «Адрес» (адрес устройства): значение 256 не помещается в байт."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::vector<BoxMessage> shown = d.BoxesShownDuring([&] { row.provoke(d, t); });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, row.title);
    EXPECT_EQ(shown[0].icon, row.icon);
    EXPECT_EQ(shown[0].text.rfind(row.textStart, 0), 0u) << shown[0].text;
  }
  EXPECT_TRUE(t.boxes.boxes.empty()) << "a box went to the handler instead";
}

// Past its cap a pane shows the newest whole lines, within the cap, whether
// they come a line at a time or in one addition larger than the pane. A trim
// leaves the newest lines that fit in three quarters of the cap: not one
// line fewer, not one more.
inline void PanesKeepTheNewestLines(ViewDriver& d, ViewCaseTest&) {
  constexpr std::size_t kCap = 400;
  constexpr std::size_t kKeep = kCap - kCap / 4;
  if (!d.SetPaneCap(kCap)) GTEST_SKIP() << "this view keeps no cap";
  const auto line = [](int i) { return "line " + std::to_string(i) + " " + std::string(i % 23, '#'); };
  for (const Control pane : {Control::Text2, Control::Text6, Control::Text8}) {
    std::string all;
    std::size_t trims = 0;
    for (int i = 0; i < 120; ++i) {
      const std::string before = d.Text(pane);
      d.form().AppendPane(pane, line(i) + "\r\n");
      all += line(i) + "\n";
      const std::string shown = d.Text(pane);
      ASSERT_LE(shown.size(), kCap) << InfoOf(pane).name << " after line " << i;
      ASSERT_TRUE(all.size() >= shown.size() && all.compare(all.size() - shown.size(), shown.size(), shown) == 0)
          << InfoOf(pane).name << " after line " << i << ": " << shown;
      ASSERT_EQ(shown.rfind("line ", 0), 0u) << InfoOf(pane).name << " after line " << i << ": " << shown;
      if (shown == before + line(i) + "\n") continue;
      // Trimmed. The line before the first one shown would not have fitted.
      // (The Win32 view counts the CR LF of an addition as two units, so the
      // bound is reached rather than passed there.)
      ++trims;
      const std::size_t first = all.size() - shown.size();
      const std::size_t older = all.rfind('\n', first - 2) + 1;  // npos + 1 is 0
      ASSERT_LE(shown.size(), kKeep) << InfoOf(pane).name << " after line " << i << ": " << shown;
      ASSERT_GE(shown.size() + (first - older), kKeep)
          << InfoOf(pane).name << " after line " << i << ": dropped also " << all.substr(older, first - older);
    }
    EXPECT_GT(trims, 5u) << InfoOf(pane).name;
    EXPECT_GT(d.Text(pane).size(), kCap / 2) << InfoOf(pane).name;

    std::string block;
    for (int i = 0; i < 60; ++i) block += line(i) + "\r\n";
    d.form().AppendPane(pane, block);
    const std::string shown = d.Text(pane);
    EXPECT_LE(shown.size(), kCap) << InfoOf(pane).name;
    EXPECT_EQ(shown.rfind("line ", 0), 0u) << InfoOf(pane).name << ": " << shown;
    EXPECT_TRUE(shown.size() > line(59).size() &&
                shown.compare(shown.size() - line(59).size() - 1, std::string::npos, line(59) + "\n") == 0)
        << InfoOf(pane).name << ": " << shown;
  }
}

}  // namespace view_cases

inline const std::vector<ViewCase>& ViewCases() {
  using namespace view_cases;
  static const std::vector<ViewCase> cases = {
      {"InitialState", InitialState},
      {"OpenCloseAndUnload", OpenCloseAndUnload},
      {"RequestFrames", RequestFrames},
      {"Refusals", Refusals},
      {"RequestsThePortRefused", RequestsThePortRefused},
      {"ClearButtons", ClearButtons},
      {"StepButtons", StepButtons},
      {"RepliesReadByTheTick", RepliesReadByTheTick},
      {"LogOfASession", LogOfASession},
      {"BoxesOnScreen", BoxesOnScreen},
      {"PanesKeepTheNewestLines", PanesKeepTheNewestLines},
  };
  return cases;
}

}  // namespace rilvano::test
