// The simulator as a process on its pseudo-terminal: checked by a master of
// our own, by mbpoll, and by libmodbus as a client.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "modbus/bytes.h"
#include "tests/e2e/process.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"
#include "tests/support/pty.h"
#include "serial/baud_linux.h"

namespace rilvano::e2e {
namespace {

using Clock = std::chrono::steady_clock;

using test::Sealed;

// A bare master: opens the slave side raw (at `speed` when given), writes a
// frame, collects what comes back with the arrival time of every chunk.
class Master {
 public:
  explicit Master(const std::string& device, speed_t speed = B0) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("open " + device);
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    if (speed != B0) ::cfsetspeed(&tio, speed);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Master() { ::close(fd_); }
  Master(const Master&) = delete;
  Master& operator=(const Master&) = delete;

  struct Chunk {
    double atMs;  // since the request was written
    std::string bytes;
  };

  // Collects until `quietMs` pass without a byte after the first one, or
  // `timeoutMs` with nothing.
  std::vector<Chunk> Ask(const std::string& frame, int timeoutMs = 3000, int quietMs = 400) {
    // Before the write: on a loaded machine times may come out late, never early.
    const auto start = Clock::now();
    if (!frame.empty() && ::write(fd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
      throw std::runtime_error("write");
    }
    std::vector<Chunk> chunks;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, chunks.empty() ? timeoutMs : quietMs);
      char buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      chunks.push_back({std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                        std::string(buffer, static_cast<std::size_t>(n))});
    }
    return chunks;
  }

  std::string AskBytes(const std::string& frame, int timeoutMs = 3000) {
    std::string all;
    for (const auto& c : Ask(frame, timeoutMs, 150)) all += c.bytes;
    return all;
  }

 private:
  int fd_ = -1;
};

TEST(SimProcess, BadOptionsExitWithCode2AndHelpExplains) {
  const auto [badCode, badOut] = RunToEnd({RILVANO_SIM_PATH, "--delay", "soon"});
  EXPECT_EQ(badCode, 2);
  EXPECT_EQ(badOut, "");  // the message goes to stderr, nothing pretends to be a port
  const auto [helpCode, helpOut] = RunToEnd({RILVANO_SIM_PATH, "--help"});
  EXPECT_EQ(helpCode, 0);
  EXPECT_NE(helpOut.find("--split-pause"), std::string::npos);
}

TEST(SimProcess, SurvivesMastersComingAndGoingAndCleansItsLink) {
  const std::string link = (std::filesystem::temp_directory_path() / ("rilvano-sim-link-" + std::to_string(::getpid()))).string();
  {
    Simulator sim({"--link", link});
    EXPECT_EQ(sim.Port(), test::PtsPortName(sim.Device()));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.Device());
    for (unsigned round = 0; round < 3; ++round) {
      Master master(link);
      EXPECT_EQ(HexList(master.AskBytes(Sealed({1, 6, 0, 3, 0, round}))), HexList(Sealed({1, 6, 0, 3, 0, round})))
          << "round " << round;
    }
    // The value written in the last round outlived its master.
    Master master(sim.Device());
    EXPECT_EQ(HexList(master.AskBytes(Sealed({1, 3, 0, 3, 0, 1}))), HexList(Sealed({1, 3, 2, 0, 2})));
    sim.Process().Stop();
    EXPECT_EQ(sim.Process().Wait(0), 0);
  }
  std::error_code ec;
  EXPECT_FALSE(std::filesystem::is_symlink(link, ec)) << "link left behind";
}

TEST(SimProcess, DelayAndSplitPauseShapeTheReply) {
  // Lower bounds only: a loaded machine may be late, never early.
  {
    Simulator sim({"--delay", "150"});
    Master master(sim.Device());
    const auto chunks = master.Ask(Sealed({1, 3, 0, 0, 0, 1}));
    ASSERT_FALSE(chunks.empty());
    EXPECT_GE(chunks.front().atMs, 150);
  }
  {
    Simulator sim({"--split-pause", "200", "--split-at", "2"});
    Master master(sim.Device());
    const auto chunks = master.Ask(Sealed({1, 3, 0, 0, 0, 1}));
    ASSERT_EQ(chunks.size(), 2U);
    EXPECT_EQ(HexList(chunks[0].bytes), "01 03 ");
    EXPECT_EQ(HexList(chunks[1].bytes), HexList(Sealed({1, 3, 2, 0, 0}).substr(2)));
    EXPECT_GE(chunks[1].atMs - chunks[0].atMs, 180);
  }
}

// The line model as a master sees it: bytes can come late on a loaded
// machine, never early, so the checks are lower bounds that an ideal wire
// would fail (the request itself takes 8 characters, each 10 bits).
const ByteString kRead8 = Sealed({1, 3, 0, 0, 0, 8});
const ByteString kReply8 = Sealed({1, 3, 16, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7});

struct TimedCase {
  const char* name;
  std::vector<std::string> options;
  speed_t speed;        // the master's rate
  ByteString expected;  // all that comes back to kRead8
  double minFirstMs;    // the first byte comes no sooner
  double minLastMs;     // nor the last one
  std::size_t maxChunk = 0;  // no read gets more (0: any)
  double minGapMs = 0;       // between two chunks
  // The master opens the port, asks and closes it this many times, 50 ms
  // apart; the first byte comes no later than this in the median round
  // (0: any), generous enough for a loaded machine.
  int rounds = 1;
  double maxFirstMs = 0;
};

void PrintTo(const TimedCase& c, std::ostream* os) { *os << c.name; }

class SimTimedLine : public ::testing::TestWithParam<TimedCase> {};

TEST_P(SimTimedLine, WhatComesBackAndWhen) {
  const TimedCase& c = GetParam();
  Simulator sim(c.options);
  std::vector<double> firsts;
  for (int round = 0; round < c.rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (round > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the simulator sees the hang-up
    Master master(sim.Device(), c.speed);
    const auto chunks = master.Ask(kRead8, 1000, 400);
    std::string all;
    for (const auto& chunk : chunks) all += chunk.bytes;
    EXPECT_EQ(HexList(all), HexList(c.expected));
    if (chunks.empty()) continue;
    firsts.push_back(chunks.front().atMs);
    EXPECT_GE(chunks.front().atMs, c.minFirstMs);
    EXPECT_GE(chunks.back().atMs, c.minLastMs);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      if (c.maxChunk != 0) {
        EXPECT_LE(chunks[i].bytes.size(), c.maxChunk) << "chunk " << i;
      }
      if (i > 0) {
        EXPECT_GE(chunks[i].atMs - chunks[i - 1].atMs, c.minGapMs) << "chunk " << i;
      }
    }
  }
  if (c.maxFirstMs > 0 && !firsts.empty()) {
    std::sort(firsts.begin(), firsts.end());
    EXPECT_LE(firsts[firsts.size() / 2], c.maxFirstMs) << "median of " << firsts.size() << " rounds";
  }
}

constexpr double kChar9600 = 10000.0 / 9600;

INSTANTIATE_TEST_SUITE_P(
    Line, SimTimedLine,
    ::testing::Values(
        // The request (8 characters), the 5 ms gap, the reply (21).
        TimedCase{"Paced9600", {"--line"}, B9600, kReply8, 9 * kChar9600 + 5 - 0.5, 29 * kChar9600 + 5 - 0.5},
        TimedCase{"Paced1200", {"--line", "--baud", "1200"}, B1200, kReply8, 8 * (9 * kChar9600) + 5 - 0.5,
                  8 * (29 * kChar9600) + 5 - 0.5},
        // The turnaround counts from the end of the request on the line, not
        // from the moment the pty handed it over, nor from when the gap
        // after it ended the frame.
        TimedCase{"TurnaroundFromTheRequestsEnd", {"--line", "--gap", "200", "--delay", "250"}, B9600, kReply8,
                  9 * kChar9600 + 250 - 0.5, 29 * kChar9600 + 250 - 0.5, 0, 0, 3, 9 * kChar9600 + 250 + 100},
        TimedCase{"AnotherRateIsNotAnswered", {"--line"}, B19200, "", 0, 0},
        // A UART copes with rates within 2 % of its own.
        TimedCase{"RateOff1_9PercentIsAnswered", {"--line", "--baud", "9782"}, B9600, kReply8,
                  9 * kChar9600 + 5 - 0.5, 29 * kChar9600 + 5 - 0.5},
        TimedCase{"RateOff3PercentIsNotAnswered", {"--line", "--baud", "9900"}, B9600, "", 0, 0},
        // The pause goes after the first piece is on the line: at 1200 baud
        // its 10 characters take longer than the pause.
        TimedCase{"SplitPause1200", {"--line", "--baud", "1200", "--split-pause", "60"}, B1200, kReply8,
                  8 * (9 * kChar9600) + 5 - 0.5, 8 * (29 * kChar9600) + 5 + 60 - 0.5},
        // A master that closes the port and opens it again is answered
        // within a few milliseconds, not after the simulator's idle wait.
        TimedCase{"ReopenedPortIsAnsweredAtOnce", {"--line"}, B9600, kReply8, 9 * kChar9600 + 5 - 0.5,
                  29 * kChar9600 + 5 - 0.5, 0, 0, 5, 100},
        TimedCase{"EchoAloneAtAnotherRate", {"--line", "--echo", "--baud", "19200"}, B9600, kRead8, kChar9600 - 0.5,
                  8 * kChar9600 - 0.5},
        TimedCase{"EchoThenReply", {"--line", "--echo"}, B9600, kRead8 + kReply8, kChar9600 - 0.5,
                  29 * kChar9600 + 5 - 0.5},
        // At 1200 baud, bursts of at most 8, never closer than 8 characters
        // (67 ms) nor than the 200 ms timer.
        TimedCase{"Bursts",
                  {"--line", "--adapter", "burst", "--burst-bytes", "8", "--burst-ms", "200", "--baud", "1200"},
                  B1200, kReply8, 8 * (9 * kChar9600) + 5 - 0.5, 8 * (29 * kChar9600) + 5 - 0.5, 8, 40}),
    [](const auto& info) { return std::string(info.param.name); });

// What came back to a read of register 0 with a stream running: the reply,
// then the stream as an unbroken counter, as long as the simulator reports
// when it is done. The stream's length, 0 when any of that fails.
std::size_t StreamAfterTheReply(Simulator& sim, const std::string& all) {
  const ByteString reply = Sealed({1, 3, 2, 0, 0});
  EXPECT_GE(all.size(), reply.size());
  if (all.size() < reply.size()) return 0;
  EXPECT_EQ(HexList(all.substr(0, reply.size())), HexList(reply));  // the reply comes before the stream
  const std::string stream = all.substr(reply.size());
  std::size_t breaks = 0;
  for (std::size_t i = 0; i < stream.size(); ++i) breaks += ByteAt(stream, i) != (i & 0xFF);
  EXPECT_EQ(breaks, 0U);
  const auto done = sim.Process().Line(5000);
  EXPECT_TRUE(done.has_value() && done->rfind("stream done: ", 0) == 0) << done.value_or("no line");
  if (!done || done->rfind("stream done: ", 0) != 0) return 0;
  EXPECT_EQ(std::stoul(done->substr(13)), stream.size());
  return stream.size();
}

TEST(SimProcess, AStreamOnTheLineGoesAtTheLinesPace) {
  Simulator sim({"--line", "--stream", "max", "--stream-seconds", "0.3"});
  Master master(sim.Device(), B9600);
  const std::size_t streamed = StreamAfterTheReply(sim, master.AskBytes(Sealed({1, 3, 0, 0, 0, 1}), 3000));
  // 960 characters a second, and the stream hands over 10 ms ahead at most.
  EXPECT_LE(streamed, 300U);
  EXPECT_GE(streamed, 100U);
}

// --device: the test's pseudo-terminal stands in for a serial port; its
// master end plays the Modbus master and reads the settings the device got.
TEST(SimProcess, ServesADeviceRaw8N1AtItsRateAloneUntilItGoes) {
  test::PtyPair line;
  ::fcntl(line.MasterFd(), F_SETFD, FD_CLOEXEC);  // else the simulator would hold our end open too
  Child sim({RILVANO_SIM_PATH, "--device", line.Path(), "--baud", "12345"});
  ASSERT_EQ(sim.Line(), "device: " + line.Path());
  termios t{};
  ASSERT_EQ(::tcgetattr(line.MasterFd(), &t), 0);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0U);
  EXPECT_EQ(t.c_oflag & OPOST, 0U);
  EXPECT_EQ(comm::ArbitraryBaud(line.MasterFd()), 12345U);  // a rate off the standard list

  line.Send(Sealed({1, 6, 0, 2, 0x12, 0x34}));
  EXPECT_EQ(HexList(line.Receive()), HexList(Sealed({1, 6, 0, 2, 0x12, 0x34})));
  line.Send(Sealed({1, 3, 0, 2, 0, 1}));
  EXPECT_EQ(HexList(line.Receive()), HexList(Sealed({1, 3, 2, 0x12, 0x34})));

  const auto [code, out] = RunToEnd({RILVANO_SIM_PATH, "--device", line.Path()});
  EXPECT_EQ(code, 1) << "a second program on the same device";
  EXPECT_EQ(out, "");

  line.CloseMaster();
  EXPECT_EQ(sim.Wait(5000), std::optional<int>(1)) << "the device went away";
}

TEST(SimProcess, FaultCountersRunOverReplies) {
  Simulator sim({"--bad-crc-every", "2", "--foreign-every", "3", "--foreign-address", "9"});
  Master master(sim.Device());
  const ByteString request = Sealed({1, 3, 0, 1, 0, 1});
  const ByteString good = Sealed({1, 3, 2, 0, 1});
  const ByteString foreign = Sealed({9, 3, 2, 0, 1});
  for (int n = 1; n <= 6; ++n) {
    const ByteString reply = master.AskBytes(request);
    ASSERT_EQ(reply.size(), good.size()) << "reply " << n;
    EXPECT_EQ(reply.substr(0, 5), (n % 3 == 0 ? foreign : good).substr(0, 5)) << "reply " << n;
    const bool crcGood = CRC16(reply.substr(0, 5)) == reply.substr(5);
    EXPECT_EQ(crcGood, n % 2 != 0) << "reply " << n;
  }
  // Silent cases do not count as replies: the next one is number 7.
  EXPECT_EQ(master.AskBytes(Sealed({5, 3, 0, 0, 0, 1}), 1000), "");
  EXPECT_EQ(HexList(master.AskBytes(request)), HexList(good));
}

TEST(SimProcess, StreamIsAnUnbrokenCounterOfTheReportedLength) {
  Simulator sim({"--stream", "4000", "--stream-seconds", "0.5"});
  Master master(sim.Device());
  std::string all;
  for (const auto& c : master.Ask(Sealed({1, 3, 0, 0, 0, 1}), 3000, 1000)) all += c.bytes;
  EXPECT_EQ(StreamAfterTheReply(sim, all), 2000U);
}

// What the soak checks a window's log against: the record holds every byte
// that went on the line, stream and replies, in the order they went.
class SimRecord : public test::TempDirTest {};

TEST_F(SimRecord, StreamMaxAndRepliesAllInTheRecordInOrder) {
  const std::string record = (Dir() / "sent.bin").string();
  Simulator sim({"--stream", "max", "--stream-seconds", "0.3", "--record", record});
  Master master(sim.Device());
  const std::string during = master.AskBytes(Sealed({1, 3, 0, 0, 0, 1}), 3000);
  const auto done = sim.Process().Line(5000);
  ASSERT_TRUE(done.has_value());
  ASSERT_EQ(done->rfind("stream done: ", 0), 0U) << *done;
  const std::string after = master.AskBytes(Sealed({1, 3, 0, 0, 0, 1}), 3000);
  const ByteString reply = Sealed({1, 3, 2, 0, 0});
  ASSERT_EQ(after, reply);
  ASSERT_GE(during.size(), reply.size());
  EXPECT_EQ(during.substr(0, reply.size()), reply);
  const std::string stream = during.substr(reply.size());
  std::size_t breaks = 0;
  for (std::size_t i = 0; i < stream.size(); ++i) breaks += ByteAt(stream, i) != (i & 0xFF);
  EXPECT_EQ(breaks, 0U);
  EXPECT_EQ(std::stoul(done->substr(13)), stream.size());
  // A reader that keeps up takes many 4096-byte chunks, far more than a
  // 115200-baud line gives in the time (3456 bytes); megabytes, unloaded.
  EXPECT_GT(stream.size(), 16 * 4096U);
  EXPECT_TRUE(test::ReadFileBytes(record) == during + after) << test::ReadFileBytes(record).size() << " bytes recorded, "
                                                             << (during + after).size() << " read";
}

TEST(SimProcess, MbpollReadsAndWrites) {
  Simulator sim({"--set", "4=1234"});
  const std::vector<std::string> base = {"mbpoll", "-m", "rtu", "-a", "1", "-b", "9600", "-P", "none",
                                         "-t", "4", "-0", "-1", "-o", "2"};
  auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> argv = base;
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunToEnd(argv);
  };
  const auto [writeCode, writeOut] = run({"-r", "5", sim.Device(), "4321"});
  EXPECT_EQ(writeCode, 0) << writeOut;
  EXPECT_NE(writeOut.find("Written 1 references"), std::string::npos) << writeOut;
  const auto [readCode, readOut] = run({"-r", "3", "-c", "3", sim.Device()});
  EXPECT_EQ(readCode, 0) << readOut;
  EXPECT_NE(readOut.find("[3]: \t3\n[4]: \t1234\n[5]: \t4321\n"), std::string::npos) << readOut;
}

TEST(SimProcess, LibmodbusClientSeesExceptionsAndTheDeviceText) {
  Simulator sim({"--registers", "20"});
  modbus_t* ctx = modbus_new_rtu(sim.Device().c_str(), 9600, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  modbus_set_slave(ctx, 1);
  modbus_set_response_timeout(ctx, 2, 0);
  ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);

  std::uint16_t regs[4] = {};
  EXPECT_EQ(modbus_read_registers(ctx, 18, 2, regs), 2);
  EXPECT_EQ(regs[0], 18);
  EXPECT_EQ(regs[1], 19);
  EXPECT_EQ(modbus_read_registers(ctx, 19, 2, regs), -1);
  EXPECT_EQ(errno, EMBXILADD);
  EXPECT_EQ(modbus_write_register(ctx, 20, 1), -1);
  EXPECT_EQ(errno, EMBXILADD);
  const std::uint16_t values[2] = {1, 2};
  EXPECT_EQ(modbus_write_registers(ctx, 0, 2, values), -1);  // 0x10 is not implemented
  EXPECT_EQ(errno, EMBXILFUN);
  std::uint8_t id[64] = {};
  const int n = modbus_report_slave_id(ctx, sizeof id, id);
  ASSERT_EQ(n, 13);
  EXPECT_EQ(id[0], 1);
  EXPECT_EQ(id[1], 0xFF);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(id + 2), 11), "RILVANO-SIM");

  modbus_close(ctx);
  modbus_free(ctx);
}

// scripts/run with a stand-in for the window: it tells the port to type,
// passes options on to the simulator and stops it when the window exits.
class RunScript : public test::TempDirTest {};

TEST_F(RunScript, StartsTheSimulatorAndStopsItWithTheWindow) {
  const auto& dir = Dir();
  std::filesystem::create_directories(dir / "tools");
  std::filesystem::create_directories(dir / "window");
  std::filesystem::create_symlink(RILVANO_SIM_PATH, dir / "tools" / "rilvano-sim");
  const auto link = dir / "line";
  {
    // The stand-in finds the simulator's link (an option passed on) in place.
    std::ofstream window(dir / "window" / "rilvano");
    window << "#!/bin/sh\n[ -L " << link.string() << " ] || exit 9\nexit 7\n";
  }
  std::filesystem::permissions(dir / "window" / "rilvano", std::filesystem::perms::owner_all);
  const auto [code, out] = RunToEnd({RILVANO_RUN_SCRIPT, dir.string(), "--link", link.string()});
  EXPECT_EQ(code, 7) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("type   PTS[0-9]+:   into the port box"))) << out;
  std::error_code ec;
  EXPECT_FALSE(std::filesystem::is_symlink(link, ec)) << "the simulator outlived the window";
}

}  // namespace
}  // namespace rilvano::e2e
