// The window on the kernel's own serial drivers, inside the guest that
// scripts/test-drivers boots: an 8250 UART (ttyS1, typed COM2) and an
// emulated FTDI adapter (ttyUSB0, typed USB0), each with rilvano-sim on the
// host's end. The host's agent, on the guest's ttyS2, starts simulators and
// pulls and plugs the adapter.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "serial/SerialPort.h"
#include "serial/port_names.h"
#include "tests/e2e/e2e_window.h"

namespace rilvano::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::SimRequest;

// One line to the host's agent; "ok" when it was done.
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
  std::string answer;
  if (::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "no link";
  for (char c = 0; c != '\n'; answer += c == '\n' ? "" : std::string(1, c)) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1 || ::read(fd, &c, 1) != 1) return "no answer to " + line;
  }
  return answer;
}

void StartSim(const std::string& device, const std::string& options = "") {
  ASSERT_EQ(Host("sim " + device + " --set 0=4660 --registers 125 " + options), "ok");
}

// The adapter as the kernel named it this time ("USB0", "USB1"); "" while out.
std::string Adapter() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/sys/bus/usb-serial/devices", ec)) {
    const std::string name = e.path().filename().string();
    if (fs::exists("/dev/" + name)) return name.substr(3);
  }
  return {};
}

std::string PortOf(const std::string& device) { return device == "usb0" ? Adapter() : "COM2"; }

void Pull() {
  ASSERT_EQ(Host("hmp device_del usb0"), "ok");
  ASSERT_TRUE(test::ProcessEventsUntil([] { return Adapter().empty(); }, 20000)) << "the adapter stayed";
}

void Plug() {
  ASSERT_EQ(Host("hmp device_add usb-serial,chardev=usb0pty,id=usb0,bus=xhci.0"), "ok");
  ASSERT_TRUE(test::ProcessEventsUntil([] { return !Adapter().empty(); }, 20000)) << "the adapter did not come";
}

// The share of a core the process used while its event loop ran `ms`,
// asleep between events (the harness's polling loop would count too).
double CpuShareOver(int ms) {
  const auto cpu = [] {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  };
  const double before = cpu();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return (cpu() - before) * 1000 / ms;
}

class OnTheDriver : public WindowE2E {
 protected:
  void SetUp() override {
    WindowE2E::SetUp();
    if (Adapter().empty()) Plug();  // whatever the test before left
  }

  void OpenAt(QtView& w, const std::string& port, const char* rate = "9600") {
    w.Text10->setText(rate);
    Open(w, port);
  }

  // Read of register 0 on a port that will not take it: the echo as ever,
  // then the line that says so.
  static void ExpectNotSent(QtView& w, Transcript& t, const std::string& says) {
    w.Text7->setText("0");
    w.Text9->setText("1");
    w.Command3->click();
    t.read += kSentHead + HexList(test::ReadOne().frame) + "\r\n" + says;
    t.log += SentEntry(test::ReadOne().frame) + says + "\r\n";
    const std::string pane = QtView::PaneText(w.Text8);
    EXPECT_EQ(pane.substr(pane.size() - std::min(pane.size(), says.size())), says);
  }

  test::BoxCapture boxes;
};

// ---- every request through each driver, as in the end-to-end tables

struct WireCase {
  const char* name;
  const char* device;  // the agent's name for the line
  const char* sim;
  std::vector<SimRequest> requests;
};

class EveryRequest : public OnTheDriver, public ::testing::WithParamInterface<WireCase> {};

TEST_P(EveryRequest, ByteExactInThePanesAndTheLog) {
  const WireCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartSim(c.device, c.sim));
  const std::string port = PortOf(c.device);
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

const std::vector<SimRequest> kIdeal = {test::ReadOne(), test::ReadMany(125), test::WriteNumber(), test::WriteChars(),
                                        test::AskInfo()};
const std::vector<SimRequest> kLine = {test::ReadOne(), test::ReadEight(), test::WriteNumber(), test::WriteChars(),
                                       test::AskInfo()};

INSTANTIATE_TEST_SUITE_P(Drivers, EveryRequest,
                         ::testing::Values(WireCase{"Uart", "s1", "", kIdeal}, WireCase{"Ftdi", "usb0", "", kIdeal},
                                           WireCase{"FtdiLine9600", "usb0", "--line", kLine}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the adapter pulled out and plugged back in

enum class Moment { Closed, Idle, AwaitingReply, ReplyArriving };

struct PullCase {
  const char* name;
  Moment moment;
  bool plugWhileOpen;
  const char* sim;
};

class AdapterPulled : public OnTheDriver, public ::testing::WithParamInterface<PullCase> {};

TEST_P(AdapterPulled, TheWindowStaysUpAndTellsWhatWasNotSent) {
  const PullCase& c = GetParam();
  const std::string notOpen = "Пакет не отправлен: порт не открыт (ошибка 2)";
  ASSERT_NO_FATAL_FAILURE(StartSim("usb0", c.sim));
  const std::string before = Adapter();
  Transcript t;
  QtView w;
  w.show();
  if (c.moment == Moment::Closed) {
    ASSERT_NO_FATAL_FAILURE(Pull());
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, before));  // no box, the open state
    ExpectNotSent(w, t, notOpen);
    w.BTNCloseCom->click();
    ASSERT_NO_FATAL_FAILURE(Plug());
  } else {
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, before));
    ASSERT_NO_FATAL_FAILURE(Ask(w, t, test::ReadOne()));
    if (c.moment != Moment::Idle) {
      const SimRequest r = c.moment == Moment::AwaitingReply ? test::ReadOne() : test::ReadMany(125);
      w.Text9->setText(r.fields[1].second.c_str());
      const std::size_t shown = QtView::PaneText(w.Text2).size();
      w.Command3->click();
      t.read += kSentHead + HexList(r.frame);
      t.log += SentEntry(r.frame);
      if (c.moment == Moment::ReplyArriving) {
        ASSERT_TRUE(test::ProcessEventsUntil([&] { return QtView::PaneText(w.Text2).size() > shown; }, 10000));
      }
    }
    ASSERT_NO_FATAL_FAILURE(Pull());
    const std::string logged = MaskedLog(before);
    EXPECT_LT(CpuShareOver(3000), 0.25) << "of a core, with the adapter gone";
    EXPECT_TRUE(w.isVisible());
    ExpectNotSent(w, t, "Пакет не отправлен (ошибка 5)");
    if (c.plugWhileOpen) {
      ASSERT_NO_FATAL_FAILURE(Plug());
    }
    const auto closing = Clock::now();
    w.BTNCloseCom->click();
    EXPECT_LT(Clock::now() - closing, std::chrono::seconds(4)) << "Close hung on the dead port";
    const std::string log = MaskedLog(before);
    EXPECT_EQ(log.substr(0, logged.size()), logged) << "entries made before the pull were lost";
    // Of a reply cut by the pull, what came is logged as it came.
    if (c.moment != Moment::ReplyArriving) {
      EXPECT_EQ(log, t.log);
    }
    if (!c.plugWhileOpen) {
      ASSERT_NO_FATAL_FAILURE(Plug());
    }
  }
  // Back, under whatever name the kernel gave it; the dead descriptor held
  // the old one while the adapter came back.
  const std::string after = Adapter();
  if (c.plugWhileOpen) {
    EXPECT_NE(after, before);
    Transcript gone;
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, before));
    ExpectNotSent(w, gone, notOpen);
    w.BTNCloseCom->click();
  }
  Transcript back;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, after));
  ASSERT_NO_FATAL_FAILURE(Ask(w, back, test::ReadOne()));
  w.BTNCloseCom->click();
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;
}

INSTANTIATE_TEST_SUITE_P(Drivers, AdapterPulled,
                         ::testing::Values(PullCase{"WhileClosed", Moment::Closed, false, ""},
                                           PullCase{"WhileIdle", Moment::Idle, false, ""},
                                           PullCase{"AwaitingTheReply", Moment::AwaitingReply, true, "--delay 2000"},
                                           // 255 bytes at 1200 baud: two seconds on the line
                                           PullCase{"WhileTheReplyArrives", Moment::ReplyArriving, false,
                                                    "--line --baud 1200"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- what a pseudo-terminal never runs

class RealTty : public OnTheDriver, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealTty, RatesReadBackAndASecondOpenIsRefused) {
  ASSERT_NO_FATAL_FAILURE(StartSim(GetParam()));
  const std::string port = PortOf(GetParam()), node = comm::DevicePath(port);
  QtView w;
  for (const auto& [rate, speed] : {std::pair{"1200", B1200}, {"9600", B9600}, {"115200", B115200}}) {
    SCOPED_TRACE(rate);
    ASSERT_NO_FATAL_FAILURE(OpenAt(w, port, rate));
    termios t{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(SerialPort::PortHandle), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed);
    EXPECT_EQ(::cfgetispeed(&t), speed);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    if (speed == B115200) {
      // Root passes TIOCEXCL; the lock keeps it out. A user meets TIOCEXCL.
      EXPECT_EQ(comm::NativePlatform().CreateFile(port), comm::kInvalidHandle);
      EXPECT_EQ(comm::NativePlatform().GetLastError(), static_cast<std::uint32_t>(EBUSY));
      ASSERT_EQ(::chmod(node.c_str(), 0666), 0);
      const pid_t child = ::fork();
      if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
        ::_exit(::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) < 0 && errno == EBUSY ? 0 : 2);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a user opened the held port: " << status;
    }
    w.BTNCloseCom->click();
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, RealTty, ::testing::Values("s1", "usb0"));

// A far end that stops reading holds the UART: Close waits for the queue
// only so long, then drops what is left, where close() alone waits 30 s.
TEST_F(OnTheDriver, CloseOnAHeldUartReturnsWithinTheDrainLimit) {
  ASSERT_NO_FATAL_FAILURE(StartSim("s1"));
  QtView w;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, "COM2", "1200"));
  ASSERT_EQ(Host("signal s1 STOP"), "ok");
  int pieces = 0;
  while (pieces < 2000 && SerialPort::WritePort(std::string(255, '\x55')) == 255) ++pieces;
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

// ttyS3: a node the kernel makes with no UART behind it.
TEST_F(OnTheDriver, ANodeWithNoHardwareDoesNotOpen) {
  QtView w;
  ASSERT_NO_FATAL_FAILURE(OpenAt(w, "COM4"));
  Transcript t;
  ExpectNotSent(w, t, "Пакет не отправлен: порт не открыт (ошибка " + std::to_string(ENXIO) + ")");
  w.BTNCloseCom->click();
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;
}

// What the operators' notes tell them to write and to match.
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
