// Received packets as the operator sees them: raw block, slave check, decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "receive/reply.h"
#include "tests/receive/reply_cases.h"

namespace rilvano::receive {
namespace {

using test::FromHex;
using test::ReplyCase;

class DecodeTable : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(DecodeTable, TextForPaneAndLog) {
  const ReplyCase& c = GetParam();
  double word = -1;
  const Reply reply = Interpret(c.packet, word);
  EXPECT_EQ(reply.kind, c.kind);
  EXPECT_EQ(reply.text, c.text);
  EXPECT_EQ(reply.paneAddition, c.text.empty() ? "" : c.text + "\r\n");
}

const auto kName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(WorkedExamples, DecodeTable, ::testing::ValuesIn(test::WorkedExamples()), kName);
INSTANTIATE_TEST_SUITE_P(EdgeCases, DecodeTable, ::testing::ValuesIn(test::EdgeCases()), kName);
INSTANTIATE_TEST_SUITE_P(ShortPackets, DecodeTable, ::testing::ValuesIn(test::ShortPackets()), kName);

TEST(Decode, RegisterValuesPassThroughTheScratchCell) {
  double word = 0;
  Interpret(FromHex("01 03 04 00 01 00 02 2A 32"), word);
  EXPECT_EQ(word, 2);
  Interpret(FromHex("01 06 00 10 12 34 85 78"), word);
  EXPECT_EQ(word, 0x1234);
}

TEST(Decode, RegisterCountRoundsHalfToEven) {
  const std::vector<std::pair<unsigned, unsigned>> table = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {5, 2},
                                                            {7, 4}, {9, 4}, {16, 8}, {255, 128}};
  for (const auto& [count, n] : table) EXPECT_EQ(RegisterCount(count), n) << count;
}

TEST(RawBlock, PrintableLineAndHexLine) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {FromHex("01 03 02 12 34 B5 33"), "4µ3"},
      {FromHex("01 11 05 41 42 43 FF 01 D9 00"), "ABCяЩ"},
      {FromHex("00 01 0A 0D 1F"), ""},  // control bytes leave no mark
      {FromHex("20 7F 80 98 C0"), " \x7F" "Ђ\u0098А"},
  };
  for (const auto& [packet, printable] : table) {
    EXPECT_EQ(RawBlock(packet), "Принят пакет:\r\n" + printable + "\r\n" + HexList(packet) + "\r\n") << HexList(packet);
  }
  EXPECT_EQ(RawBlock(FromHex("00 0A FF")), "Принят пакет:\r\n\u044F\r\n00 0A FF \r\n");
}

TEST(AddressFilter, ComparesTheUnroundedNumberWithByteOne) {
  struct Case {
    const char* field;
    std::string packet;
    bool matches;
  };
  const std::vector<Case> table = {
      {"1", FromHex("01 03"), true},     {"2", FromHex("01 03"), false},   {"1.5", FromHex("01 03"), false},
      {"1.5", FromHex("02 03"), false},  {"", FromHex("00 03"), true},     {"", FromHex("01 03"), false},
      {"abc", FromHex("00"), true},      {" 1 7", FromHex("11"), true},    {"&H11", FromHex("11"), true},
      {"1.0", FromHex("01"), true},      {"1e0", FromHex("01"), true},     {"255", FromHex("FF"), true},
      {"-1", FromHex("FF"), false},      {"1e999", FromHex("FF"), false},  {"1", "", false},
  };
  for (const Case& c : table) EXPECT_EQ(FromAddressedSlave(c.field, c.packet), c.matches) << '"' << c.field << '"';
}

}  // namespace
}  // namespace rilvano::receive
