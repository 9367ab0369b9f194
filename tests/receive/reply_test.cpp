// Received packets as the operator sees them: raw block, slave check, decoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "receive/reply.h"

namespace rilvano::receive {
namespace {

// "01 03 FF" -> the three bytes.
std::string Bytes(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 3) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

const std::string kCrLf = "\r\n";
const std::string kHead = "\r\nПринят ответ:  Длинна=";

struct DecodeCase {
  const char* name;
  std::string packet;
  ReplyKind kind;
  std::string text;  // the log line; the pane gets it followed by CR LF
};

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, TextForPaneAndLog) {
  const DecodeCase& c = GetParam();
  double word = -1;
  const Reply reply = Interpret(c.packet, word);
  EXPECT_EQ(reply.kind, c.kind);
  EXPECT_EQ(reply.text, c.text);
  EXPECT_EQ(reply.paneAddition, c.text.empty() ? "" : c.text + kCrLf);
}

const std::string kException = "Адрес данных, указанный в запросе, недоступен.";

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, DecodeTable,
    ::testing::Values(
        DecodeCase{"OneRegister", Bytes("01 03 02 12 34 B5 33"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n"},
        DecodeCase{"TwoRegisters", Bytes("01 03 04 00 01 00 02 2A 32"), ReplyKind::ReadReply,
                   kHead + " 4\r\n#= 0 Данные= 1\r\n#= 1 Данные= 2\r\n CRC=2A 32 Good\r\n"},
        DecodeCase{"TextRegister", Bytes("01 03 02 41 42 08 25"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 16706\r\n CRC=08 25 Txt=AB Good\r\n"},
        DecodeCase{"DamagedCrc", Bytes("01 03 02 12 34 00 00"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=00 00- Bad  "},
        DecodeCase{"WriteEcho", Bytes("01 06 00 10 12 34 85 78"), ReplyKind::WriteEcho,
                   "\r\nПринят ответ: Адрес ячейки= 16 Данные= 4660 CRC=85 78"},
        DecodeCase{"Exception83", Bytes("01 83 02 C0 F1"), ReplyKind::Exception, kException},
        DecodeCase{"DeviceInformation", Bytes("01 11 05 41 42 43 FF 01 D9 00"), ReplyKind::Ignored, ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, DecodeTable,
    ::testing::Values(
        // Odd count 3 gives n = 2; the CRC runs over 2n + 3 = 7 bytes.
        DecodeCase{"OddCountCrcOverRoundedLength", Bytes("01 03 03 00 01 00 02 9F F2"), ReplyKind::ReadReply,
                   kHead + " 3\r\n#= 0 Данные= 1\r\n#= 1 Данные= 2\r\n CRC=9F F2 Good\r\n"},
        DecodeCase{"OddCountOneMeansNoRegister", Bytes("01 03 01 41 42"), ReplyKind::ReadReply,
                   kHead + " 1\r\n CRC=41 42 Txt=AB- Bad  "},
        DecodeCase{"TrailingBytesAfterCrc", Bytes("01 03 02 12 34 B5 33 00 00"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33- Bad  "},
        DecodeCase{"TrailingBytesMatchingLastTwo", Bytes("01 03 02 12 34 B5 33 77 B5 33"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n"},
        DecodeCase{"ByteCountZero", Bytes("01 03 00 20 F0"), ReplyKind::ReadReply,
                   kHead + " 0\r\n CRC=20 F0 Txt= р Good\r\n"},
        DecodeCase{"RegistersFFFFAndZero", Bytes("01 03 04 FF FF 00 00 FA 17"), ReplyKind::ReadReply,
                   kHead + " 4\r\n#= 0 Данные= 65535\r\n#= 1 Данные= 0\r\n CRC=FA 17 Txt=яя Good\r\n"},
        DecodeCase{"FirstDataByte31", Bytes("01 03 02 1F 41 70 44"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 8001\r\n CRC=70 44 Good\r\n"},
        DecodeCase{"TextWithByteZero", Bytes("01 03 02 41 00 88 14"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 16640\r\n CRC=88 14 Txt=A" + std::string(1, '\0') + " Good\r\n"},
        DecodeCase{"TextUnassigned98", Bytes("01 03 02 98 C0 D3 D4"), ReplyKind::ReadReply,
                   kHead + " 2\r\n#= 0 Данные= 39104\r\n CRC=D3 D4 Txt=\u0098А Good\r\n"},
        DecodeCase{"WriteEchoHighAddress", Bytes("01 06 80 00 FF FF 00 00"), ReplyKind::WriteEcho,
                   "\r\nПринят ответ: Адрес ячейки= 32768 Данные= 65535 CRC=00 00"},
        DecodeCase{"WriteEchoTrailing", Bytes("01 06 00 00 00 00 48 0A 99"), ReplyKind::WriteEcho,
                   "\r\nПринят ответ: Адрес ячейки= 0 Данные= 0 CRC=48 0A"},
        DecodeCase{"Exception86AnyCode", Bytes("01 86 04 43 A3"), ReplyKind::Exception, kException},
        DecodeCase{"ExceptionTwoBytes", Bytes("01 83"), ReplyKind::Exception, kException},
        DecodeCase{"ExceptionOtherFunction", Bytes("01 90 02 C0 F1"), ReplyKind::Ignored, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Each is one byte shorter than its branch reads (or shorter still).
INSTANTIATE_TEST_SUITE_P(
    ShortPackets, DecodeTable,
    ::testing::Values(DecodeCase{"OneByte", Bytes("01"), ReplyKind::TooShort, ""},
                      DecodeCase{"Echo2", Bytes("01 06"), ReplyKind::TooShort, ""},
                      DecodeCase{"Echo5", Bytes("01 06 00 10 12"), ReplyKind::TooShort, ""},
                      DecodeCase{"Echo7", Bytes("01 06 00 10 12 34 85"), ReplyKind::TooShort, ""},
                      DecodeCase{"ReadNoCount", Bytes("01 03"), ReplyKind::TooShort, ""},
                      DecodeCase{"ReadCountZero4", Bytes("01 03 00 20"), ReplyKind::TooShort, ""},
                      DecodeCase{"ReadOneRegister6", Bytes("01 03 02 12 34 B5"), ReplyKind::TooShort, ""},
                      DecodeCase{"ReadOddCount8", Bytes("01 03 03 00 01 00 02 9F"), ReplyKind::TooShort, ""},
                      DecodeCase{"ReadCount255", Bytes("01 03 FF") + std::string(252, '\x11'), ReplyKind::TooShort,
                                 ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decode, RegisterValuesPassThroughTheScratchCell) {
  double word = 0;
  Interpret(Bytes("01 03 04 00 01 00 02 2A 32"), word);
  EXPECT_EQ(word, 2);
  Interpret(Bytes("01 06 00 10 12 34 85 78"), word);
  EXPECT_EQ(word, 0x1234);
}

TEST(Decode, RegisterCountRoundsHalfToEven) {
  const std::vector<std::pair<unsigned, unsigned>> table = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {5, 2},
                                                            {7, 4}, {9, 4}, {16, 8}, {255, 128}};
  for (const auto& [count, n] : table) EXPECT_EQ(RegisterCount(count), n) << count;
}

TEST(RawBlock, PrintableLineAndHexLine) {
  struct Case {
    std::string packet;
    std::string printable;
  };
  const std::vector<Case> table = {
      {Bytes("01 03 02 12 34 B5 33"), "4µ3"},
      {Bytes("01 11 05 41 42 43 FF 01 D9 00"), "ABCяЩ"},
      {Bytes("00 01 0A 0D 1F"), ""},  // control bytes leave no mark
      {Bytes("20 7F 80 98 C0"), " \x7F" "Ђ\u0098А"},
  };
  for (const Case& c : table) {
    EXPECT_EQ(RawBlock(c.packet), "Принят пакет:\r\n" + c.printable + "\r\n" + HexList(c.packet) + "\r\n")
        << HexList(c.packet);
  }
  EXPECT_EQ(RawBlock(Bytes("00 0A FF")), "Принят пакет:\r\n\u044F\r\n00 0A FF \r\n");
}

TEST(AddressFilter, ComparesTheUnroundedNumberWithByteOne) {
  struct Case {
    const char* field;
    std::string packet;
    bool matches;
  };
  const std::vector<Case> table = {
      {"1", Bytes("01 03"), true},       {"2", Bytes("01 03"), false},   {"1.5", Bytes("01 03"), false},
      {"1.5", Bytes("02 03"), false},    {"", Bytes("00 03"), true},     {"", Bytes("01 03"), false},
      {"abc", Bytes("00"), true},        {" 1 7", Bytes("11"), true},    {"&H11", Bytes("11"), true},
      {"1.0", Bytes("01"), true},        {"1e0", Bytes("01"), true},     {"255", Bytes("FF"), true},
      {"-1", Bytes("FF"), false},        {"1e999", Bytes("FF"), false},  {"1", "", false},
  };
  for (const Case& c : table) EXPECT_EQ(FromAddressedSlave(c.field, c.packet), c.matches) << '"' << c.field << '"';
}

}  // namespace
}  // namespace rilvano::receive
