#include "modbus/bytes.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/bytes.h"

namespace rilvano {
namespace {

using test::Bytes;

struct CrcCase {
  const char* name;
  ByteString input;
  ByteString crc;
};

class Crc16Vectors : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc16Vectors, MatchesPublishedValue) {
  const CrcCase& c = GetParam();
  EXPECT_EQ(HexList(CRC16(c.input)), HexList(c.crc));
}

TEST_P(Crc16Vectors, FrameWithItsCrcLeavesZeroResidue) {
  const CrcCase& c = GetParam();
  EXPECT_EQ(CRC16(c.input + CRC16(c.input)), Bytes({0, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    Modbus, Crc16Vectors,
    ::testing::Values(CrcCase{"empty", "", Bytes({0xFF, 0xFF})},
                      CrcCase{"read_default", Bytes({1, 3, 0, 0, 0, 1}), Bytes({0x84, 0x0A})},
                      CrcCase{"write_default", Bytes({1, 6, 0, 0, 0, 1}), Bytes({0x48, 0x0A})},
                      CrcCase{"report_id", Bytes({1, 0x11}), Bytes({0xC0, 0x2C})},
                      CrcCase{"check_value", "123456789", Bytes({0x37, 0x4B})},
                      // a byte string is not a C string: a lone zero byte counts
                      CrcCase{"zero_byte", Bytes({0}), Bytes({0xBF, 0x40})},
                      CrcCase{"ff_byte", Bytes({0xFF}), Bytes({0xFF, 0x00})},
                      CrcCase{"read_ten", Bytes({1, 3, 0, 0, 0, 0x0A}), Bytes({0xC5, 0xCD})},
                      CrcCase{"reply", Bytes({1, 3, 2, 0x12, 0x34}), Bytes({0xB5, 0x33})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Hex, PairsAreTwoUpperCaseDigits) {
  EXPECT_EQ(HexPair(0), "00");
  EXPECT_EQ(HexPair(9), "09");
  EXPECT_EQ(HexPair(10), "0A");
  EXPECT_EQ(HexPair(171), "AB");
  EXPECT_EQ(HexPair(255), "FF");
}

TEST(Hex, ListEndsEveryPairWithABlank) {
  EXPECT_EQ(HexList(""), "");
  EXPECT_EQ(HexList(Bytes({1, 3, 0, 0, 0, 1, 0x84, 0x0A})), "01 03 00 00 00 01 84 0A ");
  EXPECT_EQ(HexList(Bytes({0, 255})), "00 FF ");
}

}  // namespace
}  // namespace rilvano
