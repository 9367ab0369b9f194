// The POSIX backend under SerialPort, over pseudo-terminal pairs: the test
// holds the master side and plays the slave device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/comm.h"
#include "serial/comm_posix.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/pty.h"

#if defined(__linux__)
#include "serial/baud_linux.h"
#endif

namespace {

using namespace rilvano;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

double ThreadCpuMillis() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::string AllByteValues() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

class PosixPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SerialPort::SetPlatform(nullptr);
    SerialPort::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  void TearDown() override {
    SerialPort::ClosePort();
    SerialPort::SetMessageSink(nullptr);
  }
  void Open(const std::string& settings = "9600,n,8,1") {
    ASSERT_EQ(SerialPort::OpenPort(pty.PortName(), settings), -1) << pty.PortName();
    ASSERT_TRUE(messages.empty());
  }
  // Reads until `count` bytes came or `attempts` reads were made.
  std::vector<std::string> ReadsFor(std::size_t count, int attempts) {
    std::vector<std::string> reads;
    std::size_t total = 0;
    for (int i = 0; i < attempts && total < count; ++i) {
      std::string r = SerialPort::ReadPort();
      if (r.empty()) continue;
      total += r.size();
      reads.push_back(std::move(r));
    }
    return reads;
  }

  test::PtyPair pty;
  std::vector<std::string> messages;
};

TEST_F(PosixPortTest, EveryByteValuePassesBothWays) {
  Open();
  const std::string all = AllByteValues();
  EXPECT_EQ(SerialPort::WritePort(all), 256);
  EXPECT_EQ(pty.ReceiveCount(all.size()), all);

  pty.Send(all);
  std::string joined;
  for (const std::string& r : ReadsFor(all.size(), 4)) joined += r;
  EXPECT_EQ(joined, all);
}

TEST_F(PosixPortTest, MoreThan255WaitingComeBack255First) {
  Open();
  std::string waiting = AllByteValues() + AllByteValues().substr(0, 44);
  pty.Send(waiting);
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(SerialPort::ReadPort(), waiting.substr(0, 255));
  EXPECT_EQ(SerialPort::ReadPort(), waiting.substr(255));
}

TEST_F(PosixPortTest, LineIsRaw8N1WithoutFlowControl) {
  Open("19200,n,8,1");
  termios t{};
  ASSERT_EQ(tcgetattr(static_cast<int>(SerialPort::PortHandle), &t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
}

#if defined(__linux__)
// A pty keeps the speed it was given, and the kernel reads it back as a number
// (termios2): each standard rate must come back as itself, not as a
// neighbouring row of the table, and so must a rate outside it.
TEST_F(PosixPortTest, EveryRateIsSetAsAsked) {
  for (const std::uint32_t rate :
       {50u,      75u,      110u,     134u,     150u,     200u,     300u,     600u,     1200u,    1800u,
        2400u,    4800u,    9600u,    19200u,   38400u,   57600u,   115200u,  230400u,  460800u,  500000u,
        576000u,  921600u,  1000000u, 1152000u, 1500000u, 2000000u, 2500000u, 3000000u, 3500000u, 4000000u,
        12345u}) {
    Open(std::to_string(rate) + ",n,8,1");
    EXPECT_EQ(comm::ArbitraryBaud(static_cast<int>(SerialPort::PortHandle)), rate);
    SerialPort::ClosePort();
  }
}
#endif

struct PauseCase {
  int pauseMs;
  std::vector<std::string> reads;
};

class ReplyPauseTest : public PosixPortTest, public ::testing::WithParamInterface<PauseCase> {};

// A gap of more than 20 ms ends a read; a shorter one does not. A loaded
// machine can stretch a 5 ms pause past 20 ms, so one clean run of three is
// enough; a wrong quiet limit fails them all.
TEST_P(ReplyPauseTest, QuietLineEndsARead) {
  Open();
  const std::string head("\x01\x03\x02", 3), tail("\x12\x34\xB5\x33", 4);
  std::vector<std::vector<std::string>> attempts;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::thread device([&] {
      std::this_thread::sleep_for(milliseconds(40));  // the read is waiting by now
      pty.Send(head);
      std::this_thread::sleep_for(milliseconds(GetParam().pauseMs));
      pty.Send(tail);
    });
    attempts.push_back(ReadsFor(head.size() + tail.size(), 4));
    device.join();
    if (attempts.back() == GetParam().reads) break;
    while (!SerialPort::ReadPort().empty()) {
    }
  }
  EXPECT_EQ(attempts.back(), GetParam().reads) << "attempts: " << attempts.size();
}

INSTANTIATE_TEST_SUITE_P(Pauses, ReplyPauseTest,
                         ::testing::Values(PauseCase{5, {std::string("\x01\x03\x02\x12\x34\xB5\x33", 7)}},
                                           PauseCase{60, {std::string("\x01\x03\x02", 3), "\x12\x34\xB5\x33"}}),
                         [](const auto& info) { return "Pause" + std::to_string(info.param.pauseMs) + "ms"; });

// The quiet time counts from the last byte, not the first: a reply trickling
// in at one byte every 8 ms (a slow line, a USB adapter) takes longer than
// 20 ms and must still arrive as one packet. One clean run of three, as above.
TEST_F(PosixPortTest, TricklingReplyArrivesAsOnePacket) {
  Open();
  const std::string reply("\x01\x03\x02\x12\x34\xB5\x33", 7);
  std::vector<std::string> reads;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::thread device([&] {
      std::this_thread::sleep_for(milliseconds(40));
      for (char byte : reply) {
        pty.Send(std::string(1, byte));
        std::this_thread::sleep_for(milliseconds(8));
      }
    });
    reads = ReadsFor(reply.size(), 4);
    device.join();
    if (reads == std::vector<std::string>{reply}) break;
    while (!SerialPort::ReadPort().empty()) {
    }
  }
  EXPECT_EQ(reads, std::vector<std::string>{reply});
}

TEST_F(PosixPortTest, IdleReadEndsEmptyAfterTheTotalTimeout) {
  Open();
  const auto start = Clock::now();
  EXPECT_EQ(SerialPort::ReadPort(), "");
  const auto took = MillisSince(start);
  EXPECT_GE(took, 250);
  EXPECT_LT(took, 1500);
}

TEST_F(PosixPortTest, FlushKeepsReceivedInput) {
  Open();
  pty.Send("abc");
  std::this_thread::sleep_for(milliseconds(30));
  SerialPort::FlushPort();
  EXPECT_EQ(SerialPort::ReadPort(), "abc");
}

// The status bits a master end in packet mode reports within `waitMs`.
int PacketStatus(int master, int waitMs) {
  int status = 0;
  const auto start = Clock::now();
  for (;;) {
    const long long left = waitMs - MillisSince(start);
    if (left <= 0) break;
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[512];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    status |= static_cast<unsigned char>(buf[0]);  // TIOCPKT_DATA (0) before data
  }
  return status;
}

// A pty drains at once, so the stuck adapter is planted: a transmit queue
// that never empties. Flush and Close must give up after the bound and
// discard what is left (the master end in packet mode sees the discard)
// rather than wait for ever.
TEST_F(PosixPortTest, StuckTransmitQueueIsDiscardedAfterABoundedWait) {
  Open();
  int packet = 1;
  ASSERT_EQ(::ioctl(pty.MasterFd(), TIOCPKT, &packet), 0);
  struct Restore {
    ~Restore() { comm::SetTransmitQueueProbe(nullptr, {}); }
  } restore;
  comm::SetTransmitQueueProbe([](int) { return 8; }, milliseconds(300));
  for (const bool close : {false, true}) {
    const char* what = close ? "close" : "flush";
    ASSERT_EQ(SerialPort::WritePort("stuck"), 5);
    const auto start = Clock::now();
    if (close) {
      EXPECT_NE(SerialPort::ClosePort(), 0);
    } else {
      SerialPort::FlushPort();
    }
    const auto took = MillisSince(start);
    EXPECT_GE(took, 300) << what;
    EXPECT_LT(took, 2500) << what;
    EXPECT_NE(PacketStatus(pty.MasterFd(), 200) & TIOCPKT_FLUSHWRITE, 0) << what;
  }
}

TEST_F(PosixPortTest, InputWaitingBeforeTheOpenIsDiscarded) {
  Open();
  SerialPort::ClosePort();
  pty.Send("stale");
  std::this_thread::sleep_for(milliseconds(30));
  Open();
  pty.Send("new");
  EXPECT_EQ(ReadsFor(3, 3), std::vector<std::string>{"new"});
}

TEST_F(PosixPortTest, PortHeldByAnotherProgramFailsSilently) {
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {  // the other program: open, report, hold until told
    ::close(release[1]);
    const char held = SerialPort::OpenPort(pty.PortName(), "9600,n,8,1") == -1 ? 'y' : 'n';
    (void)!::write(ready[1], &held, 1);
    char c;
    (void)!::read(release[0], &c, 1);
    _exit(0);
  }
  ::close(release[0]);
  ::close(ready[1]);
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ASSERT_EQ(held, 'y');

  EXPECT_EQ(SerialPort::OpenPort(pty.PortName(), "9600,n,8,1"), 0);
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_EQ(SerialPort::OpenPort(pty.Path(), "9600,n,8,1"), 0);
  EXPECT_TRUE(messages.empty());

  ::close(release[1]);
  waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  Open();  // free again once the holder let go
}

// The lock only stops programs that take it too; a plain open() by another
// unprivileged program must meet the exclusive mode of the terminal.
TEST_F(PosixPortTest, HeldPortRefusesAPlainOpenWithEbusy) {
  ASSERT_EQ(::chmod(pty.Path().c_str(), 0666), 0);  // so only the hold can refuse
  const std::string path = pty.Path();
  auto plainOpen = [&path] {
    if (!test::DropRoot()) return 100;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) return 0;
    return errno;
  };
  Open();
  EXPECT_EQ(test::InChild(plainOpen), EBUSY);
  SerialPort::ClosePort();
  EXPECT_EQ(test::InChild(plainOpen), 0);  // let go, it opens
}

// The name check lets "PTSn:" through; the descriptor check must still refuse
// a terminal that is the controlling terminal of the program itself.
TEST_F(PosixPortTest, OwnControllingTerminalIsRefused) {
  const std::string path = pty.Path(), name = pty.PortName();
  const int result = test::InChild([&] {
    if (::setsid() < 0) return 100;
    const int tty = ::open(path.c_str(), O_RDWR);  // a session leader's first terminal
    if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0 || ::tcgetsid(tty) != ::getsid(0)) return 101;
    return SerialPort::OpenPort(name, "9600,n,8,1") == 0 && SerialPort::PortHandle == comm::kInvalidHandle ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  Open();  // not ours: it opens
}

TEST_F(PosixPortTest, MissingDeviceFailsSilently) {
  for (const char* name : {"PTS999999:", "/nonexistent/port", "COM0:", "", "/dev/tty", "console"}) {
    EXPECT_EQ(SerialPort::OpenPort(name, "9600,n,8,1"), 0) << name;
    EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle) << name;
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(PosixPortTest, NonTerminalOpensButIsNeverConfiguredOrWritten) {
  char path[] = "/tmp/rilvano-notatty-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "keep", 4), 4);
  ::close(fd);

  EXPECT_EQ(SerialPort::OpenPort(path, "9600,n,8,1"), 0);
  EXPECT_EQ(messages, std::vector<std::string>{"Unable to set timeouts for port " + std::string(path) +
                                               " Error: " + std::to_string(ENOTTY)});
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_EQ(SerialPort::WritePort("x"), 0);

  EXPECT_EQ(test::ReadFileBytes(path), "keep");
  const int again = ::open(path, O_RDONLY);  // the lock went with the handle
  EXPECT_EQ(flock(again, LOCK_EX | LOCK_NB), 0);
  ::close(again);
  std::remove(path);
}

struct BadSettings {
  const char* settings;
  const char* message;  // the settings text and the error number follow
};

class BadSettingsTest : public PosixPortTest, public ::testing::WithParamInterface<BadSettings> {};

TEST_P(BadSettingsTest, GivesItsMessageAndLeavesNoPortOpen) {
  EXPECT_EQ(SerialPort::OpenPort(pty.PortName(), GetParam().settings), 0);
  EXPECT_EQ(messages, std::vector<std::string>{GetParam().message + std::string(GetParam().settings) + " Error: " +
                                               std::to_string(EINVAL)});
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  messages.clear();
  Open();  // nothing kept the device
}

INSTANTIATE_TEST_SUITE_P(Texts, BadSettingsTest,
                         ::testing::Values(BadSettings{"abc,n,8,1", "Unable to build Comm DCB "},
                                           BadSettings{"0,n,8,1", "Unable to build Comm DCB "},
                                           BadSettings{",n,8,1", "Unable to build Comm DCB "},
                                           // parsed, but 1.5 stop bits exist only beside 5 data bits
                                           BadSettings{"9600,n,8,1.5", "Unable to set Comm DCB "}));

// A dead line fails every read at once; each still takes the read's time, as
// a silent line does, or the window's 10 ms poller would spin on it.
TEST_F(PosixPortTest, FarSideGoneEndsReadsEmptyAtTheIdlePace) {
  Open();
  // The far side goes away while a read is waiting.
  std::thread device([&] {
    std::this_thread::sleep_for(milliseconds(30));
    pty.CloseMaster();
  });
  const auto start = Clock::now();
  const double cpuStart = ThreadCpuMillis();
  EXPECT_EQ(SerialPort::ReadPort(), "");
  device.join();
  EXPECT_LT(MillisSince(start), 1500);

  const auto idle = Clock::now();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(SerialPort::ReadPort(), "");
  EXPECT_GE(MillisSince(idle), 4 * 250);
  EXPECT_LT(ThreadCpuMillis() - cpuStart, 150.0);
  EXPECT_EQ(SerialPort::WritePort("x"), 0);
  EXPECT_NE(SerialPort::ClosePort(), 0);
}

struct SettingsCase {
  const char* text;
  std::uint32_t baud;
  char parity;
  int dataBits;
  int stopBits;
};

class SettingsTextTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsTextTest, FillsTheBlock) {
  comm::LineSettings dcb;
  ASSERT_TRUE(comm::NativePlatform().BuildCommDCB(GetParam().text, dcb)) << GetParam().text;
  EXPECT_EQ(dcb.baud, GetParam().baud);
  EXPECT_EQ(dcb.parity, GetParam().parity);
  EXPECT_EQ(dcb.dataBits, GetParam().dataBits);
  EXPECT_EQ(dcb.stopBits, GetParam().stopBits);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, SettingsTextTest,
    ::testing::Values(SettingsCase{"9600,n,8,1", 9600, 'n', 8, 1}, SettingsCase{" 19200 , E , 7 , 2 ", 19200, 'e', 7, 2},
                      SettingsCase{"115200", 115200, 'n', 8, 1}, SettingsCase{"1200,o,5,1.5", 1200, 'o', 5, 15},
                      SettingsCase{"4294967295,s,6", 4294967295u, 's', 6, 1},
                      SettingsCase{"baud=9600 parity=N data=8 stop=1", 9600, 'n', 8, 1},
                      SettingsCase{"PARITY=m  BAUD=300", 300, 'm', 8, 1}));

TEST(SettingsText, UnreadableTextsFailWithEinval) {
  comm::Platform& native = comm::NativePlatform();
  for (const char* text : {"", "abc,n,8,1", "0,n,8,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,x",
                           "4294967296,n,8,1", "-9600,n,8,1", "96 00,n,8,1", "9600.5,n,8,1", "9600,,8,1",
                           "baud=9600 baud=4800", "parity=n", "baud=9600 flow=x", "baud=", "baud=9600 x"}) {
    comm::LineSettings dcb;
    EXPECT_FALSE(native.BuildCommDCB(text, dcb)) << text;
    EXPECT_EQ(native.GetLastError(), static_cast<std::uint32_t>(EINVAL)) << text;
    EXPECT_EQ(dcb.baud, 0u) << text;
  }
}

}  // namespace
