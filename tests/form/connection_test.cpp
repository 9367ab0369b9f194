// Open, Close and Unload on the recording view, against a recording serial
// backend (and once against a real pseudo-terminal), with the log file they
// leave behind.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "modbus/cp1251.h"
#include "serial/SerialPort.h"
#include "tests/form/recording_driver.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/form_seam.h"
#include "tests/support/pty.h"

namespace rilvano {
namespace {

namespace fs = std::filesystem;
using test::BoxCapture;
using test::ReadFileBytes;

// The descriptors of this process that point at `path`.
std::vector<int> DescriptorsTo(const fs::path& path) {
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(path, ec);
  std::vector<int> fds;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code readError;
    if (fs::read_symlink(entry.path(), readError) == target && !readError) {
      fds.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  return fds;
}

int OpenDescriptorsTo(const fs::path& path) { return static_cast<int>(DescriptorsTo(path).size()); }

std::vector<std::string> LogFilesHere() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::current_path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Header(const std::string& startTime) {
  return Utf8ToCp1251(startTime) + "\r\nSTART Rilvano V3.0\r\n\r\n";
}

class ConnectionTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    test::TempDirTest::SetUp();
    platform.createOk = false;  // only the names in `existing` open
    SerialPort::SetPlatform(&platform);
    w = std::make_unique<test::RecordingDriver>();
  }
  void TearDown() override {
    w.reset();
    SerialPort::SetPlatform(nullptr);
    test::TempDirTest::TearDown();
  }

  void Open(const std::string& port) {
    w->Type(Control::txt_0, port);
    ASSERT_TRUE(w->Enabled(Control::BTNOpenCom));
    w->Click(Control::BTNOpenCom);
  }
  void Close() {
    ASSERT_TRUE(w->Enabled(Control::BTNCloseCom));
    w->Click(Control::BTNCloseCom);
  }
  bool IsOpenState() const {
    using C = Control;
    const auto on = [this](C c) { return w->Enabled(c); };
    const bool open = !on(C::txt_0) && !on(C::BTNOpenCom) && on(C::BTNCloseCom) && on(C::Command1) &&
                      on(C::Command2) && on(C::Command3) && on(C::Command4) && w->view.TimerRunning();
    const bool closed = on(C::txt_0) && on(C::BTNOpenCom) && !on(C::BTNCloseCom) && !on(C::Command1) &&
                        !on(C::Command2) && !on(C::Command3) && !on(C::Command4) && !w->view.TimerRunning();
    EXPECT_NE(open, closed) << "half-switched window";
    return open;
  }
  // `count` boxes so far; the last has this title and icon, and its text
  // holds every fragment.
  void ExpectLastBox(std::size_t count, const char* title, BoxIcon icon, std::initializer_list<const char*> fragments) {
    ASSERT_EQ(boxes.boxes.size(), count);
    const BoxMessage& box = boxes.boxes.back();
    EXPECT_EQ(box.title, title);
    EXPECT_EQ(box.icon, icon);
    for (const char* fragment : fragments) EXPECT_NE(box.text.find(fragment), std::string::npos) << box.text;
  }

  test::FakePlatform platform;
  BoxCapture boxes;
  std::unique_ptr<test::RecordingDriver> w;
};

TEST_F(ConnectionTest, OpenOnMissingPortWritesHeaderFirstAndStillOpens) {
  std::string logAtPortOpen = "<not called>";
  platform.onCreate = [&] { logAtPortOpen = ReadFileBytes("Rilvano_log_COM9.txt"); };
  Open("COM9:");

  EXPECT_EQ(platform.Calls("CreateFile"), std::vector<std::string>{"COM9:"});
  EXPECT_TRUE(IsOpenState());
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(w->window.NewLine, "\r\n");
  EXPECT_EQ(w->window.LogFile, 1);
  EXPECT_EQ(w->window.StartTime, w->view.GeneralDate(w->view.clock));
  EXPECT_EQ(logAtPortOpen, Header(w->window.StartTime));
  EXPECT_EQ(OpenDescriptorsTo("Rilvano_log_COM9.txt"), 1);

  w->view.SetText(Control::Text2, "info");
  w->view.SetText(Control::Text6, "write");
  w->view.SetText(Control::Text8, "read");
  Close();
  EXPECT_FALSE(IsOpenState());
  EXPECT_EQ(w->Text(Control::Text2), "");
  EXPECT_EQ(w->Text(Control::Text6), "write");
  EXPECT_EQ(w->Text(Control::Text8), "read");
  EXPECT_EQ(OpenDescriptorsTo("Rilvano_log_COM9.txt"), 0);
  EXPECT_EQ(ReadFileBytes("Rilvano_log_COM9.txt"), Header(w->window.StartTime));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConnectionTest, EachOpenAppendsAHeaderToTheLogOfItsFirstFourCharacters) {
  std::string expected = "earlier run\r\n";
  { std::ofstream("Rilvano_log_COM1.txt", std::ios::binary) << expected; }
  for (const char* port : {"COM10:", "COM1:", "COM10:"}) {
    Open(port);
    expected += Header(w->window.StartTime);
    Close();
  }
  EXPECT_EQ(LogFilesHere(), std::vector<std::string>{"Rilvano_log_COM1.txt"});
  EXPECT_EQ(ReadFileBytes("Rilvano_log_COM1.txt"), expected);
  EXPECT_EQ(platform.Calls("CreateFile"), (std::vector<std::string>{"COM10:", "COM1:", "COM10:"}));
}

TEST_F(ConnectionTest, PortNamesGiveTheirLogNameOrTheErrorBox) {
  struct Case {
    std::string port;
    std::string logName;  // empty: the log cannot be opened
  };
  const Case cases[] = {
      {"", "Rilvano_log_.txt"},
      {"\\\\.\\COM3", "Rilvano_log_\\\\.\\.txt"},  // backslashes are plain characters here
      {"a/b:", ""},
      {"//COM3:", ""},
      {"COM3/", "Rilvano_log_COM3.txt"},  // the separator is past the fourth character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    boxes.boxes.clear();
    platform.log.clear();
    Open(c.port);
    if (c.logName.empty()) {
      ExpectLastBox(1, "Error#1001", BoxIcon::Critical, {"путь не найден"});
      EXPECT_FALSE(IsOpenState());
      EXPECT_TRUE(platform.Calls("CreateFile").empty()) << "port opened after a failed log";
      EXPECT_EQ(w->window.NewLine, "\r\n");
    } else {
      EXPECT_TRUE(boxes.boxes.empty());
      EXPECT_TRUE(IsOpenState());
      EXPECT_EQ(platform.Calls("CreateFile"), std::vector<std::string>{c.port});
      EXPECT_EQ(ReadFileBytes(c.logName), Header(w->window.StartTime));
      Close();
      fs::remove(c.logName);
    }
  }
  EXPECT_TRUE(LogFilesHere().empty());
}

TEST_F(ConnectionTest, BaudRateIsReadAtOpenOnly) {
  platform.existing = {"COM3:"};
  Open("COM3:");
  EXPECT_TRUE(w->Enabled(Control::Text10));
  w->Type(Control::Text10, "19200");
  EXPECT_EQ(platform.Calls("BuildCommDCB"), std::vector<std::string>{"9600,n,8,1"});
  Close();
  EXPECT_EQ(platform.Calls("CloseHandle").size(), 1u);
  Open("COM3:");
  EXPECT_EQ(platform.Calls("BuildCommDCB"), (std::vector<std::string>{"9600,n,8,1", "19200,n,8,1"}));
  EXPECT_TRUE(IsOpenState());
}

TEST_F(ConnectionTest, DriverMessagesAreBoxesTitledWithTheProgramName) {
  platform.existing = {"COM3:"};
  platform.timeoutsOk = false;
  Open("COM3:");
  ExpectLastBox(1, "Rilvano", BoxIcon::None, {"COM3:"});
  EXPECT_TRUE(IsOpenState());  // the result of OpenPort is not consulted
}

TEST_F(ConnectionTest, CloseAndUnloadRunTheirStepsInOrder) {
  platform.existing = {"COM3:"};
  Open("COM3:");
  w->window.AppendPane(Control::Text2, "info");
  bool timerStopped = false, paneCleared = false;
  int logOpenAtClosePort = -1;
  platform.onClose = [&] {
    timerStopped = !w->view.TimerRunning();
    paneCleared = w->Text(Control::Text2).empty();
    logOpenAtClosePort = OpenDescriptorsTo("Rilvano_log_COM3.txt");
  };
  Close();
  EXPECT_TRUE(timerStopped);
  EXPECT_TRUE(paneCleared);
  EXPECT_EQ(logOpenAtClosePort, 1);  // the log is closed last
  EXPECT_EQ(OpenDescriptorsTo("Rilvano_log_COM3.txt"), 0);

  Open("COM3:");
  logOpenAtClosePort = -1;
  w->Close();  // unload: log first, then the port
  EXPECT_EQ(logOpenAtClosePort, 0);
  EXPECT_EQ(platform.Calls("CloseHandle").size(), 2u);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(ConnectionTest, UnloadWithoutOpenReportsNothing) {
  w->Close();
  w.reset();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(platform.Calls("CloseHandle").size(), 0u);
  EXPECT_TRUE(platform.Calls("CreateFile").empty());
  EXPECT_TRUE(LogFilesHere().empty());
}

TEST_F(ConnectionTest, LogGetsExactWindows1251BytesAndCrLf) {
  Open("COM3:");
  const std::string header = Header(w->window.StartTime);
  w->window.LogLine("12:0:5.30");
  w->window.LogItem("Отправка пакета:   ");
  for (const char* pair : {"01 ", "00 ", "FF "}) w->window.LogItem(pair);
  w->window.LogLine("");
  w->window.LogLine("Принят пакет:\r\n" + Cp1251ToUtf8("\x34\xB5\x98\xFF") + "\r\n34 B5 98 FF \r\n");
  w->window.LogLine("\r\n#=0 Данные= 4660 ✓ё€");  // outside the code page: "?"
  // Written through at once: readable before Close.
  const std::string expected = header + "12:0:5.30\r\n" +
                               "\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0 \xEF\xE0\xEA\xE5\xF2\xE0:   01 00 FF \r\n" +
                               "\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:\r\n\x34\xB5\x98\xFF\r\n34 B5 98 FF \r\n\r\n" +
                               "\r\n#=0 \xC4\xE0\xED\xED\xFB\xE5= 4660 ?\xB8\x88\r\n";
  EXPECT_EQ(ReadFileBytes("Rilvano_log_COM3.txt"), expected);
  Close();
  EXPECT_EQ(ReadFileBytes("Rilvano_log_COM3.txt"), expected);  // no trailer
}

TEST_F(ConnectionTest, FailedHeaderWriteTakesTheErrorPathAndIsClosedByTheNextOpen) {
  fs::create_symlink("/dev/full", "Rilvano_log_COM3.txt");
  Open("COM3:");
  ExpectLastBox(1, "Error#1002", BoxIcon::Critical, {"нет места на диске"});
  EXPECT_FALSE(IsOpenState());
  EXPECT_TRUE(platform.Calls("CreateFile").empty());
  EXPECT_EQ(OpenDescriptorsTo("/dev/full"), 1);  // left open, as the failure found it

  fs::remove("Rilvano_log_COM3.txt");
  Open("COM3:");
  EXPECT_EQ(OpenDescriptorsTo("/dev/full"), 0);
  EXPECT_EQ(boxes.boxes.size(), 1u);
  EXPECT_TRUE(IsOpenState());
  EXPECT_EQ(ReadFileBytes("Rilvano_log_COM3.txt"), Header(w->window.StartTime));
}

// Points the log's open descriptor at /dev/full while alive: a disk that
// fills up under a running log.
class DiskFull {
 public:
  explicit DiskFull(const fs::path& log) {
    for (int fd : DescriptorsTo(log)) fd_ = fd;
    saved_ = ::dup(fd_);
    const int full = ::open("/dev/full", O_WRONLY);
    ::dup2(full, fd_);
    ::close(full);
  }
  ~DiskFull() {
    ::dup2(saved_, fd_);
    ::close(saved_);
  }
  bool Found() const { return fd_ >= 0 && saved_ >= 0; }

 private:
  int fd_ = -1;
  int saved_ = -1;
};

TEST_F(ConnectionTest, FailingLogWritesAreToldOncePerRunAndWorkGoesOn) {
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    Open("COM3:");
    const auto size = fs::file_size("Rilvano_log_COM3.txt");
    {
      DiskFull full("Rilvano_log_COM3.txt");
      ASSERT_TRUE(full.Found());
      w->window.LogLine("0:0:0.1");
      w->window.LogItem("Отправка пакета:   ");
      w->window.LogLine("");
      w->window.AppendPane(Control::Text8, "still shown");
    }
    ExpectLastBox(run, "Rilvano", BoxIcon::Warning, {"Не удалось записать в файл журнала", "нет места на диске"});
    EXPECT_TRUE(IsOpenState());
    w->window.LogLine("after");  // writes work again once there is room
    EXPECT_EQ(ReadFileBytes("Rilvano_log_COM3.txt").substr(size), "after\r\n");
    Close();
  }
}

TEST_F(ConnectionTest, RealPseudoTerminalOpensAndCloses) {
  SerialPort::SetPlatform(nullptr);
  test::PtyPair pty;
  Open(pty.PortName());
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text;
  EXPECT_TRUE(IsOpenState());
  EXPECT_EQ(OpenDescriptorsTo(pty.Path()), 1);
  w->RunFor(100);  // a few idle ticks
  Close();
  EXPECT_FALSE(IsOpenState());
  EXPECT_EQ(OpenDescriptorsTo(pty.Path()), 0);
}

}  // namespace
}  // namespace rilvano
