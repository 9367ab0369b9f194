// The simulator's slave logic and option parsing, without a terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "tests/support/bytes.h"
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
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--nope"},          {"--slave", "0"},         {"--slave", "248"},       {"--slave", "1x"},
      {"--slave", "-1"},   {"--delay"},              {"--delay", "abc"},       {"--delay", "-5"},
      {"--registers", "0"}, {"--registers", "65537"}, {"--set", "5"},           {"--set", "1=65536"},
      {"--set", "100=1"},  {"--gap", "0"},           {"--split-at", "0"},      {"--stream", "0"},
      {"--stream", "nan"}, {"--foreign-address", "1"}, {"--text", std::string(249, 'x')}, {"-v"},
  };
  for (const auto& args : bad) {
    std::string error;
    bool help = false;
    EXPECT_FALSE(ParseOptions(args, error, help).has_value()) << args[0];
    EXPECT_FALSE(help);
    EXPECT_NE(error.find(args[0]), std::string::npos) << error;
  }
  std::string error;
  bool help = false;
  EXPECT_FALSE(ParseOptions({"--help"}, error, help).has_value());
  EXPECT_TRUE(help);
  for (const char* option : {"--slave", "--delay", "--split-pause", "--split-at", "--bad-crc-every", "--foreign-every",
                             "--foreign-address", "--stream", "--stream-seconds", "--link", "--set", "--gap"}) {
    EXPECT_NE(UsageText().find(option), std::string::npos) << option << " is not explained";
  }
}

}  // namespace
}  // namespace rilvano::sim
