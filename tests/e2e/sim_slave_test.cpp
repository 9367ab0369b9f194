// The simulator's slave logic, its line model and option parsing, without a
// terminal or a clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "tests/support/bytes.h"
#include "tools/line.h"
#include "tools/slave.h"

namespace rilvano::sim {
namespace {

using test::Bytes;
using test::Sealed;

Options Parsed(const std::vector<std::string>& args) {
  std::string error;
  bool help = false;
  auto o = ParseOptions(args, error, help);
  EXPECT_TRUE(o.has_value()) << error;
  return o.value_or(Options{});
}

struct AnswerCase {
  const char* what;
  ByteString request;
  ByteString reply;  // empty: the slave stays silent
};

TEST(SimSlave, AnswersLikeARealSlave) {
  const Options o = Parsed({"--registers", "10", "--set", "0=4660", "--set", "9=65535"});
  const AnswerCase cases[] = {
      {"read one", Sealed({1, 3, 0, 0, 0, 1}), Bytes({1, 3, 2, 0x12, 0x34, 0xB5, 0x33})},
      {"read the last two", Sealed({1, 3, 0, 8, 0, 2}), Sealed({1, 3, 4, 0, 8, 0xFF, 0xFF})},
      {"read past the end", Sealed({1, 3, 0, 9, 0, 2}), Bytes({1, 0x83, 2, 0xC0, 0xF1})},
      {"start past the end", Sealed({1, 3, 0, 10, 0, 1}), Sealed({1, 0x83, 2})},
      {"count 0", Sealed({1, 3, 0, 0, 0, 0}), Sealed({1, 0x83, 3})},
      {"count 126", Sealed({1, 3, 0, 0, 0, 126}), Sealed({1, 0x83, 3})},
      {"write echoes", Sealed({1, 6, 0, 5, 3, 0xE8}), Sealed({1, 6, 0, 5, 3, 0xE8})},
      {"write past the end", Sealed({1, 6, 0, 10, 0, 1}), Sealed({1, 0x86, 2})},
      {"unknown function", Sealed({1, 0x10, 0, 0}), Sealed({1, 0x90, 1})},
      {"short read request", Sealed({1, 3, 0, 0}), Sealed({1, 0x83, 3})},
      {"report slave id", Sealed({1, 0x11}),
       Sealed({1, 0x11, 13, 1, 0xFF, 'R', 'I', 'L', 'V', 'A', 'N', 'O', '-', 'S', 'I', 'M'})},
      {"another slave", Sealed({2, 3, 0, 0, 0, 1}), {}},
      {"bad CRC", Bytes({1, 3, 0, 0, 0, 1, 0x84, 0x0B}), {}},
      {"too short", Bytes({1, 3, 0}), {}},
      {"broadcast read", Sealed({0, 3, 0, 0, 0, 1}), {}},
      {"broadcast unknown", Sealed({0, 0x10, 0, 0}), {}},
  };
  for (const auto& c : cases) {
    Slave slave(o);
    EXPECT_EQ(HexList(slave.Answer(c.request)), HexList(c.reply)) << c.what;
  }
}

TEST(SimSlave, WritesAreStoredAndReadBack) {
  Slave slave(Parsed({}));
  EXPECT_EQ(slave.Register(7), 7);  // register k starts at k
  slave.Answer(Sealed({1, 6, 0, 7, 0x41, 0x42}));
  EXPECT_EQ(slave.Register(7), 0x4142);
  EXPECT_EQ(HexList(slave.Answer(Sealed({1, 3, 0, 7, 0, 1}))), HexList(Sealed({1, 3, 2, 0x41, 0x42})));
  // A broadcast write is stored without a reply.
  EXPECT_TRUE(slave.Answer(Sealed({0, 6, 0, 7, 0, 9})).empty());
  EXPECT_EQ(slave.Register(7), 9);
  // A write with a bad CRC changes nothing.
  ByteString damaged = Sealed({1, 6, 0, 7, 0, 1});
  damaged.back() = ByteChar(ByteAt(damaged, damaged.size() - 1) ^ 1);
  EXPECT_TRUE(slave.Answer(damaged).empty());
  EXPECT_EQ(slave.Register(7), 9);
}

TEST(SimSlave, OtherAddressIdAndTextFromOptions) {
  Slave slave(Parsed({"--slave", "17", "--id", "0x42", "--text", "X"}));
  EXPECT_EQ(HexList(slave.Answer(Sealed({17, 0x11}))), HexList(Sealed({17, 0x11, 3, 0x42, 0xFF, 'X'})));
  EXPECT_TRUE(slave.Answer(Sealed({1, 0x11})).empty());
}

TEST(SimSlave, FaultsHitOnlyTheirReplies) {
  const Options o = Parsed({"--bad-crc-every", "3", "--foreign-every", "2"});
  EXPECT_EQ(o.foreignAddress, 2U);
  const ByteString reply = Sealed({1, 3, 2, 0, 0});
  const ByteString foreign = Sealed({2, 3, 2, 0, 0});
  EXPECT_EQ(InjectFaults(o, reply, 1), reply);
  EXPECT_EQ(InjectFaults(o, reply, 2), foreign);  // a good CRC: only the address differs
  const ByteString third = InjectFaults(o, reply, 3);
  EXPECT_EQ(third.substr(0, 6), reply.substr(0, 6));
  EXPECT_NE(third, reply);
  EXPECT_NE(CRC16(third.substr(0, 5)), third.substr(5));
  const ByteString sixth = InjectFaults(o, reply, 6);  // both at once
  EXPECT_EQ(ByteAt(sixth, 0), 2);
  EXPECT_NE(CRC16(sixth.substr(0, 5)), sixth.substr(5));
}

TEST(SimSlave, SplitPoint) {
  EXPECT_EQ(SplitPoint(Parsed({}), 7), 3U);
  EXPECT_EQ(SplitPoint(Parsed({"--split-at", "2"}), 7), 2U);
  EXPECT_EQ(SplitPoint(Parsed({"--split-at", "20"}), 7), 6U);  // never an empty second piece
}

TEST(SimSlave, PortNames) {
  EXPECT_EQ(PortNameFor("/dev/pts/7"), "PTS7:");
  EXPECT_EQ(PortNameFor("/dev/pts/12"), "PTS12:");
  EXPECT_EQ(PortNameFor("/dev/pts/x"), "/dev/pts/x");
  EXPECT_EQ(PortNameFor("/dev/ttyS0"), "/dev/ttyS0");
}

// ---- the line model: times in, what reaches the master out

struct LineInput {
  double atMs;
  bool fromMaster;  // else the slave sends
  ByteString bytes;
  unsigned masterBaud = 9600;
};

struct Delivery {
  double atMs;
  ByteString bytes;
};

std::ostream& operator<<(std::ostream& os, const std::vector<Delivery>& ds) {
  for (const auto& d : ds) os << d.atMs << " ms: " << HexList(d.bytes) << "\n";
  return os;
}

// Feeds the inputs in order and collects the deliveries, waking whenever the
// line says something may be due, as the simulator's loop does.
std::vector<Delivery> Deliveries(Line& line, const std::vector<LineInput>& inputs) {
  std::vector<Delivery> out;
  const auto until = [&](double limit) {
    while (const auto next = line.NextMs()) {
      if (*next > limit) break;
      const ByteString bytes = line.Deliver(*next);
      if (!bytes.empty()) out.push_back({*next, bytes});
    }
  };
  for (const auto& in : inputs) {
    until(in.atMs);
    if (in.fromMaster) {
      line.FromMaster(in.atMs, in.bytes, in.masterBaud);
    } else {
      line.FromSlave(in.atMs, in.bytes);
    }
  }
  until(1e9);
  return out;
}

bool Same(const std::vector<Delivery>& a, const std::vector<Delivery>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::abs(a[i].atMs - b[i].atMs) > 1e-6 || a[i].bytes != b[i].bytes) return false;
  }
  return true;
}

struct LineCase {
  const char* what;
  std::vector<std::string> options;
  std::vector<LineInput> inputs;
  std::vector<Delivery> expected;
};

constexpr double kChar9600 = 10000.0 / 9600;
constexpr double kChar115200 = 10000.0 / 115200;

TEST(SimLine, DeliveriesFollowTheLineAndTheAdapter) {
  const LineCase cases[] = {
      {"ideal wire: a reply whole, at once", {}, {{5, false, "ABC"}}, {{5, "ABC"}}},
      {"UART: each byte when its 10 bits have passed",
       {"--line"},
       {{10, false, "ABC"}},
       {{10 + kChar9600, "A"}, {10 + 2 * kChar9600, "B"}, {10 + 3 * kChar9600, "C"}}},
      {"paced at the rate the master set, 1 % off the slave's",
       {"--line"},
       {{0, true, "\x01", 9700}, {10, false, "AB"}},
       {{10 + 10000.0 / 9700, "A"}, {10 + 20000.0 / 9700, "B"}}},
      {"bytes queue behind those still on the line",
       {"--line"},
       {{0, false, "AB"}, {1, false, "C"}},
       {{kChar9600, "A"}, {2 * kChar9600, "B"}, {3 * kChar9600, "C"}}},
      {"echo: the request as it was on the wire, then the reply",
       {"--line", "--echo"},
       {{0, true, "\x01\x02\x03"}, {3 * kChar9600 + 5, false, "R"}},
       {{kChar9600, "\x01"}, {2 * kChar9600, "\x02"}, {3 * kChar9600, "\x03"}, {4 * kChar9600 + 5, "R"}}},
      {"echo at the master's rate, heard or not",
       {"--line", "--echo"},
       {{0, true, "\x01\x02", 19200}},
       {{kChar9600 / 2, "\x01"}, {kChar9600, "\x02"}}},
      {"burst: N held make a burst, and the timer restarts there",
       {"--line", "--adapter", "burst", "--burst-bytes", "4"},
       {{0, false, "0123456789"}},
       {{4 * kChar9600, "0123"}, {8 * kChar9600, "4567"}, {8 * kChar9600 + 16, "89"}}},
      {"burst: the timer ticks every 16 ms while bytes trickle in",
       {"--line", "--adapter", "burst", "--baud", "1200"},
       {{0, false, "ABCDE"}},
       {{16, "A"}, {32, "BC"}, {48, "DE"}}},
      {"burst: a quiet line keeps the timer's phase",
       {"--line", "--adapter", "burst"},
       {{100, false, "A"}},
       {{112, "A"}}},
      {"burst: the echo goes through the adapter too",
       {"--line", "--adapter", "burst", "--echo"},
       {{0, true, "\x01\x02"}, {2 * kChar9600 + 5, false, "R"}},
       {{16, std::string("\x01\x02R")}}},
      {"burst: by default 62 bytes, a 64-byte USB packet less its 2 status bytes",
       {"--line", "--adapter", "burst", "--baud", "115200"},
       {{0, false, std::string(70, 'x')}},
       {{62 * kChar115200, std::string(62, 'x')}, {62 * kChar115200 + 16, std::string(8, 'x')}}},
  };
  for (const auto& c : cases) {
    Line line(Parsed(c.options), 0);
    const auto got = Deliveries(line, c.inputs);
    EXPECT_TRUE(Same(got, c.expected)) << c.what << "\ngot:\n" << got << "expected:\n" << c.expected;
  }
}

TEST(SimLine, JitterDelaysEachBurstWithinItsBoundInOrderAndRepeatsWithTheSeed) {
  const auto run = [](const char* seed) {
    Line line(Parsed({"--line", "--adapter", "burst", "--burst-bytes", "2", "--jitter", "4", "--seed", seed}), 0);
    return Deliveries(line, {{0, false, "0123456789"}});
  };
  const auto a = run("7");
  ASSERT_EQ(a.size(), 5U);
  double before = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const double ideal = 2 * static_cast<double>(k + 1) * kChar9600;
    EXPECT_GE(a[k].atMs, ideal) << k;
    EXPECT_LE(a[k].atMs, ideal + 4) << k;
    EXPECT_GE(a[k].atMs, before) << k;
    EXPECT_EQ(a[k].bytes, std::string("0123456789").substr(2 * k, 2));
    before = a[k].atMs;
  }
  EXPECT_TRUE(Same(run("7"), a));
  EXPECT_FALSE(Same(run("8"), a));
}

TEST(SimLine, AFrameEndsAGapAfterItsLastCharacterAndAnotherRateIsNoise) {
  const ByteString request = Sealed({1, 3, 0, 0, 0, 1});
  const double end = 8 * 10000.0 / 1200;
  Line line(Parsed({"--line", "--baud", "1200"}), 0);
  line.FromMaster(0, request.substr(0, 3), 1200);
  line.FromMaster(1, request.substr(3), 1200);  // queued behind the first piece: one frame
  ASSERT_TRUE(line.FrameDueMs().has_value());
  EXPECT_NEAR(*line.FrameDueMs(), end + 5, 1e-6);
  EXPECT_FALSE(line.TakeFrame(end + 4.9).has_value());
  auto frame = line.TakeFrame(end + 5);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->bytes, request);
  EXPECT_NEAR(frame->endMs, end, 1e-6);
  EXPECT_TRUE(frame->heard);
  EXPECT_FALSE(line.FrameDueMs().has_value());

  // Two frames a gap apart stay two, even when the first was not yet taken.
  line.FromMaster(200, "\x01", 1224);  // 2 % off: still heard
  line.FromMaster(220, "\x02", 1250);  // 4 % off: noise
  frame = line.TakeFrame(300);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->bytes, "\x01");
  EXPECT_TRUE(frame->heard);
  frame = line.TakeFrame(300);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->bytes, "\x02");
  EXPECT_FALSE(frame->heard);

  // A rate nobody can read (the far end of a real port) is taken as the
  // slave's: paced at it, and heard.
  line.FromMaster(400, request, 0);
  frame = line.TakeFrame(400 + end + 5);
  ASSERT_TRUE(frame.has_value());
  EXPECT_NEAR(frame->endMs, 400 + end, 1e-6);
  EXPECT_TRUE(frame->heard);

  // The ideal wire: the frame ends a gap after the bytes came.
  Line ideal(Parsed({"--gap", "3"}), 0);
  ideal.FromMaster(50, request, 1200);
  EXPECT_NEAR(ideal.FrameDueMs().value_or(0), 53, 1e-6);
  EXPECT_TRUE(ideal.TakeFrame(53).value_or(Line::Frame{}).heard);
}

TEST(SimOptions, ValuesBothSpellings) {
  const Options o = Parsed({"--delay=12.5", "--split-pause", "60", "--stream", "11520", "--verbose",
                            "--link", "/tmp/x", "--gap=3"});
  EXPECT_DOUBLE_EQ(o.delayMs, 12.5);
  EXPECT_DOUBLE_EQ(o.splitPauseMs, 60);
  EXPECT_DOUBLE_EQ(o.streamRate, 11520);
  EXPECT_DOUBLE_EQ(o.gapMs, 3);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.link, "/tmp/x");
  EXPECT_EQ(o.slaveId, 1U);
  // A virtual null-modem pair hands bytes over at once: it takes the line.
  const Options pair = Parsed({"--device", "COM6", "--line", "--adapter", "burst", "--baud", "1200"});
  EXPECT_TRUE(pair.line && pair.burst);
  EXPECT_EQ(pair.baud, 1200U);
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--nope"},          {"--slave", "0"},         {"--slave", "248"},       {"--slave", "1x"},
      {"--slave", "-1"},   {"--delay"},              {"--delay", "abc"},       {"--delay", "-5"},
      {"--registers", "0"}, {"--registers", "65537"}, {"--set", "5"},           {"--set", "1=65536"},
      {"--set", "100=1"},  {"--gap", "0"},           {"--split-at", "0"},      {"--stream", "0"},
      {"--stream", "nan"}, {"--foreign-address", "1"}, {"--text", std::string(249, 'x')}, {"-v"},
      {"--baud", "9600"},  {"--line", "--baud", "49"}, {"--adapter", "burst"}, {"--line", "--adapter", "usb"},
      {"--echo"},          {"--line", "--jitter", "2"}, {"--line", "--adapter", "burst", "--burst-bytes", "0"},
      {"--line", "--adapter", "burst", "--burst-ms", "0"}, {"--line", "--adapter", "burst", "--seed", "-1"},
      {"--device", "/dev/ttyS0", "--adapter", "burst"}, {"--device", "/dev/ttyS0", "--link", "/tmp/x"},
      {"--device", "/dev/ttyS0", "--echo"},
  };
  for (const auto& args : bad) {
    std::string error;
    bool help = false;
    EXPECT_FALSE(ParseOptions(args, error, help).has_value()) << args[0];
    EXPECT_FALSE(help);
    // The message names the option at fault: the last one given.
    std::string last = args[0];
    for (const auto& a : args) {
      if (a.rfind("--", 0) == 0) last = a;
    }
    EXPECT_NE(error.find(last), std::string::npos) << error;
  }
  std::string error;
  bool help = false;
  EXPECT_FALSE(ParseOptions({"--help"}, error, help).has_value());
  EXPECT_TRUE(help);
  for (const char* option : {"--slave", "--delay", "--split-pause", "--split-at", "--bad-crc-every", "--foreign-every",
                             "--foreign-address", "--stream", "--stream-seconds", "--link", "--set", "--gap", "--line",
                             "--baud", "--adapter burst", "--burst-bytes", "--burst-ms", "--jitter", "--seed", "--echo",
                             "--device"}) {
    EXPECT_NE(UsageText().find(option), std::string::npos) << option << " is not explained";
  }
}

}  // namespace
}  // namespace rilvano::sim
