// The window on the kernel's own serial drivers, inside the guest that
// scripts/test-drivers boots: an 8250 UART (ttyS1, typed COM2) and an
// emulated FTDI adapter (ttyUSB0, typed USB0, ftdi_sio), each with
// rilvano-sim on the host's end of the line. The host's agent, on the
// guest's ttyS2, starts simulators and pulls and plugs the adapter.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include <QEventLoop>
#include <QTimer>

#include "serial/SerialPort.h"
#include "serial/comm.h"
#include "serial/port_names.h"
#include "tests/e2e/e2e_window.h"

namespace rilvano::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::SimRequest;

// One line to the host's agent and its one-line answer ("ok ...").
std::string Host(const std::string& line) {
  static const int fd = [] {
    const int f = ::open("/dev/ttyS2", O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(f, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(f, TCSANOW, &t);
    return f;
  }();
  const std::string out = line + "\n";
  if (fd < 0 || ::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "no link";
  std::string answer;
  for (char c = 0; c != '\n';) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1 || ::read(fd, &c, 1) != 1) return "no answer to " + line;
    if (c != '\n') answer += c;
  }
  return answer;
}

void StartSim(const std::string& device, const std::vector<std::string>& options) {
  std::string line = "sim " + device;
  for (const std::string& o : options) line += " " + o;
  ASSERT_EQ(Host(line + " --set 0=4660 --registers 125"), "ok");
}

// The adapter's node as the kernel named it this time ("USB0", "USB1"), or
// "" while it is out.
std::string Adapter() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/sys/bus/usb-serial/devices", ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("ttyUSB", 0) == 0 && fs::exists("/dev/" + name)) return name.substr(3);
  }
  return {};
}

void Pull() {
  ASSERT_EQ(Host("hmp device_del usb0"), "ok");
  ASSERT_TRUE(test::ProcessEventsUntil([] { return Adapter().empty(); }, 20000)) << "the adapter stayed";
}

void Plug() {
  ASSERT_EQ(Host("hmp device_add usb-serial,chardev=usb0pty,id=usb0,bus=xhci.0"), "ok");
  ASSERT_TRUE(test::ProcessEventsUntil([] { return !Adapter().empty(); }, 20000)) << "the adapter did not come";
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The event loop for `ms`, asleep between events (the test's own polling
// loop would count against the window).
void IdleFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

std::string Tail(const std::string& text, std::size_t n) { return text.substr(text.size() - std::min(n, text.size())); }

class OnTheDriver : public WindowE2E {
 protected:
  void SetUp() override {
    WindowE2E::SetUp();
    // Whatever the test before left, the adapter is in.
    if (Adapter().empty()) {
      ASSERT_NO_FATAL_FAILURE(Plug());
    }
  }

  // Opens `port` at `rate`, as typed.
  void OpenAt(QtView& w, const std::string& port, const char* rate = "9600") {
    w.Text10->setText(rate);
    Open(w, port);
  }

  // Clicks Read of register 0 on a port that will not take it: the echo as
  // ever, then the line that says so.
  static void ExpectNotSent(QtView& w, Transcript& t, const std::string& says) {
    w.Text7->setText("0");
    w.Text9->setText("1");
    w.Command3->click();
    const std::string frame = test::ReadOne().frame;
    t.read += kSentHead + HexList(frame) + "\r\n" + says;
    t.log += SentEntry(frame) + says + "\r\n";
    EXPECT_EQ(Tail(QtView::PaneText(w.Text8), says.size()), says);
  }

  test::BoxCapture boxes;
};

// ---- every request through each driver

struct WireCase {
  const char* name;
  const char* device;  // the agent's name for the line
  const char* port;    // typed by the operator
  std::vector<std::string> sim;
  std::vector<SimRequest> requests;
};

void PrintTo(const WireCase& c, std::ostream* os) { *os << c.name; }

class EveryRequest : public OnTheDriver, public ::testing::WithParamInterface<WireCase> {};

TEST_P(EveryRequest, ByteExactInThePanesAndTheLog) {
  const WireCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartSim(c.device, c.sim));
  const std::string port = c.port == std::string("USB") ? "USB" + Adapter().substr(3) : c.port;
  Transcript t;
  {
    QtView w;
    w.show();
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, port));
    for (const SimRequest& r : c.requests) ASSERT_NO_FATAL_FAILURE(Ask(w, t, r));
    test::ProcessEventsFor(500);  // nothing more may arrive
    ExpectPanes(w, t);
    w.BTNCloseCom->click();
  }
  EXPECT_EQ(MaskedLog(port), t.log);
  EXPECT_TRUE(boxes.boxes.empty());
}

const std::vector<SimRequest> kIdealSession = {test::ReadOne(), test::ReadMany(125), test::WriteNumber(),
                                               test::WriteChars(), test::AskInfo()};
const std::vector<SimRequest> kLineSession = {test::ReadOne(), test::ReadEight(), test::WriteNumber(),
                                              test::WriteChars(), test::AskInfo()};

INSTANTIATE_TEST_SUITE_P(Drivers, EveryRequest,
                         ::testing::Values(WireCase{"Uart", "s1", "COM2", {}, kIdealSession},
                                           WireCase{"Ftdi", "usb0", "USB", {}, kIdealSession},
                                           WireCase{"FtdiLine9600", "usb0", "USB", {"--line"}, kLineSession}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the adapter pulled out and plugged back in

enum class Moment { Closed, Idle, AwaitingReply, ReplyArriving };
enum class PlugBack { AfterClose, WhileOpen };

struct PullCase {
  const char* name;
  Moment moment;
  PlugBack plug;
  std::vector<std::string> sim;
};

void PrintTo(const PullCase& c, std::ostream* os) { *os << c.name; }

class AdapterPulled : public OnTheDriver, public ::testing::WithParamInterface<PullCase> {};

TEST_P(AdapterPulled, TheWindowStaysUpAndTellsWhatWasNotSent) {
  const PullCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartSim("usb0", c.sim));
  const std::string before = "USB" + Adapter().substr(3);
  Transcript t;
  QtView w;
  w.show();
  if (c.moment == Moment::Closed) {
    ASSERT_NO_FATAL_FAILURE(Pull());
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, before));  // no box, the open state
    ExpectNotSent(w, t, "Пакет не отправлен: порт не открыт (ошибка 2)");
    w.BTNCloseCom->click();
    ASSERT_NO_FATAL_FAILURE(Plug());
  } else {
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, before));
    ASSERT_NO_FATAL_FAILURE(Ask(w, t, test::ReadOne()));
    if (c.moment == Moment::AwaitingReply) {
      w.Command3->click();
      t.read += kSentHead + HexList(test::ReadOne().frame);
      t.log += SentEntry(test::ReadOne().frame);
    } else if (c.moment == Moment::ReplyArriving) {
      const SimRequest r = test::ReadMany(125);
      w.Text9->setText("125");
      const std::size_t shown = QtView::PaneText(w.Text2).size();
      w.Command3->click();
      t.read += kSentHead + HexList(r.frame);
      t.log += SentEntry(r.frame);
      ASSERT_TRUE(test::ProcessEventsUntil([&] { return QtView::PaneText(w.Text2).size() > shown; }, 10000));
    }
    ASSERT_NO_FATAL_FAILURE(Pull());
    const std::string logBefore = MaskedLog(before);

    // Gone: no busy loop while the window keeps ticking on the dead port.
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    IdleFor(3000);
    const double share = (CpuSeconds() - cpu) / std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_LT(share, 0.25) << "of a core, with the adapter gone";
    EXPECT_TRUE(w.isVisible());
    ExpectNotSent(w, t, "Пакет не отправлен (ошибка 5)");

    if (c.plug == PlugBack::WhileOpen) {
      ASSERT_NO_FATAL_FAILURE(Plug());
    }
    const auto closing = Clock::now();
    w.BTNCloseCom->click();
    EXPECT_LT(Clock::now() - closing, std::chrono::seconds(4)) << "Close hung on the dead port";
    EXPECT_TRUE(w.BTNOpenCom->isEnabled());
    const std::string log = MaskedLog(before);
    EXPECT_EQ(log.substr(0, logBefore.size()), logBefore) << "entries before the pull were lost";
    // What arrived of a cut reply is logged too, as it came.
    if (c.moment != Moment::ReplyArriving) {
      EXPECT_EQ(log, t.log);
    }
    if (c.plug == PlugBack::AfterClose) {
      ASSERT_NO_FATAL_FAILURE(Plug());
    }
  }

  // Back: the adapter under whatever name the kernel gave it works again.
  const std::string after = "USB" + Adapter().substr(3);
  if (c.plug == PlugBack::WhileOpen) {
    // The dead descriptor held the old name, so the kernel gave another.
    EXPECT_NE(after, before);
    Transcript gone;
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, before));
    ExpectNotSent(w, gone, "Пакет не отправлен: порт не открыт (ошибка 2)");
    w.BTNCloseCom->click();
  }
  Transcript back;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, after));
  ASSERT_NO_FATAL_FAILURE(Ask(w, back, test::ReadOne()));
  w.BTNCloseCom->click();
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, AdapterPulled,
    ::testing::Values(PullCase{"WhileClosed", Moment::Closed, PlugBack::AfterClose, {}},
                      PullCase{"WhileIdle", Moment::Idle, PlugBack::AfterClose, {}},
                      PullCase{"AwaitingTheReply", Moment::AwaitingReply, PlugBack::WhileOpen, {"--delay", "2000"}},
                      // 255 bytes at 1200 baud take two seconds on the line.
                      PullCase{"WhileTheReplyArrives", Moment::ReplyArriving, PlugBack::AfterClose,
                               {"--line", "--baud", "1200"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- what a pseudo-terminal never runs

struct DriverCase {
  const char* name;
  const char* device;
  const char* port;
};

void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.name; }

class RealTty : public OnTheDriver, public ::testing::WithParamInterface<DriverCase> {
 protected:
  std::string Port() const {
    return GetParam().port == std::string("USB") ? "USB" + Adapter().substr(3) : GetParam().port;
  }
  std::string Node() const { return comm::DevicePath(Port()); }
};

TEST_P(RealTty, LineSettingsReadBackAsAsked) {
  ASSERT_NO_FATAL_FAILURE(StartSim(GetParam().device, {}));
  QtView w;
  for (const auto& [rate, speed] : {std::pair{"1200", B1200}, {"9600", B9600}, {"115200", B115200}}) {
    SCOPED_TRACE(rate);
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, Port(), rate));
    termios t{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(SerialPort::PortHandle), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed);
    EXPECT_EQ(::cfgetispeed(&t), speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    w.BTNCloseCom->click();
  }
}

TEST_P(RealTty, ASecondOpenIsRefusedToRootAndToAUser) {
  ASSERT_NO_FATAL_FAILURE(StartSim(GetParam().device, {}));
  QtView w;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, Port()));
  // Root passes TIOCEXCL; the lock still keeps it out.
  comm::Platform& platform = comm::NativePlatform();
  EXPECT_EQ(platform.CreateFile(Port()), comm::kInvalidHandle);
  EXPECT_EQ(platform.GetLastError(), static_cast<std::uint32_t>(EBUSY));
  ASSERT_EQ(::chmod(Node().c_str(), 0666), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
    const int fd = ::open(Node().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::_exit(fd < 0 && errno == EBUSY ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a user opened the held port (" << status << ")";
  w.BTNCloseCom->click();
}

INSTANTIATE_TEST_SUITE_P(Drivers, RealTty,
                         ::testing::Values(DriverCase{"Uart", "s1", "COM2"}, DriverCase{"Ftdi", "usb0", "USB"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A far end that stops reading holds the UART: Close waits for the queue
// only so long, then drops what is left, where close() alone would wait 30 s.
TEST_F(OnTheDriver, CloseOnAHeldUartReturnsWithinTheDrainLimit) {
  ASSERT_NO_FATAL_FAILURE(StartSim("s1", {}));
  QtView w;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, "COM2", "1200"));
  ASSERT_EQ(Host("signal s1 STOP"), "ok");
  const std::string piece(255, '\x55');
  int pieces = 0;
  while (pieces < 2000 && SerialPort::WritePort(piece) == 255) ++pieces;
  EXPECT_LT(pieces, 2000) << "the line never filled";
  unsigned int lsr = 0;
  EXPECT_EQ(::ioctl(static_cast<int>(SerialPort::PortHandle), TIOCSERGETLSR, &lsr), 0) << "the UART's own state";
  const auto start = Clock::now();
  w.BTNCloseCom->click();
  const auto took = Clock::now() - start;
  ASSERT_EQ(Host("signal s1 CONT"), "ok");
  EXPECT_GT(took, std::chrono::milliseconds(2500)) << "Close did not wait for the queue";
  EXPECT_LT(took, std::chrono::milliseconds(6000));
}

// A node the kernel makes with no UART behind it.
TEST_F(OnTheDriver, ANodeWithNoHardwareDoesNotOpen) {
  QtView w;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, "COM4"));
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  Transcript t;
  ExpectNotSent(w, t, "Пакет не отправлен: порт не открыт (ошибка " + std::to_string(SerialPort::LastError()) + ")");
  EXPECT_NE(SerialPort::LastError(), 0u);
  w.BTNCloseCom->click();
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;
}

// What the operators' notes tell them to write and match.
TEST_F(OnTheDriver, TheLatencyTimerAndTheUdevKeys) {
  const fs::path device = "/sys/bus/usb-serial/devices/tty" + Adapter();
  std::ofstream(device / "latency_timer") << "1\n";
  std::string value;
  std::ifstream(device / "latency_timer") >> value;
  EXPECT_EQ(value, "1");
  EXPECT_EQ(fs::read_symlink(device / "subsystem").filename(), "usb-serial");
  EXPECT_EQ(fs::read_symlink(device / "driver").filename(), "ftdi_sio");
}

}  // namespace
}  // namespace rilvano::e2e
