#include "modbus/cp1251.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace rilvano {
namespace {

TEST(Cp1251, EveryByteSurvivesTheRoundTrip) {
  for (unsigned b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = Cp1251ToUtf8(byte);
    EXPECT_EQ(Utf8ToCp1251(utf8), byte) << "byte " << b;
  }
}

TEST(Cp1251, TableIsBijective) {
  std::u32string seen;
  for (unsigned b = 0; b < 256; ++b) {
    const char32_t code = Cp1251ToUnicode(static_cast<unsigned char>(b));
    EXPECT_EQ(seen.find(code), std::u32string::npos) << "byte " << b;
    seen += code;
    ASSERT_TRUE(UnicodeToCp1251(code).has_value());
    EXPECT_EQ(*UnicodeToCp1251(code), b);
  }
}

// The whole upper half against the published code page (0x80-0xBF as listed
// there, 0xC0-0xFF the letters А to я in Unicode order); 0x98 is unassigned
// and stands for itself.
TEST(Cp1251, UpperHalfIsThePublishedCodePage) {
  constexpr char32_t kPublished80ToBF[64] = {
      0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
      0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
      0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
      0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
      0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
      0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
      0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
      0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
  };
  for (unsigned b = 0x80; b <= 0xFF; ++b) {
    const char32_t published = b < 0xC0 ? kPublished80ToBF[b - 0x80] : U'А' + (b - 0xC0);
    EXPECT_EQ(static_cast<std::uint32_t>(Cp1251ToUnicode(static_cast<unsigned char>(b))),
              static_cast<std::uint32_t>(published))
        << "byte 0x" << std::hex << b;
  }
}

TEST(Cp1251, KnownCharacters) {
  EXPECT_EQ(Utf8ToCp1251("Да"), "\xC4\xE0");
  EXPECT_EQ(Utf8ToCp1251("Принят пакет:"), "\xCF\xF0\xE8\xED\xFF\xF2 \xEF\xE0\xEA\xE5\xF2:");
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeTheFallback) {
  EXPECT_EQ(Utf8ToCp1251("a\u4E2Db"), "a?b");
  EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80"), "?");
  EXPECT_FALSE(UnicodeToCp1251(U'ä').has_value());
}

TEST(Cp1251, MalformedUtf8NeverReadsPastTheEnd) {
  EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xE2\x82"), "??");
  EXPECT_EQ(Utf8ToCp1251("\x80x"), "?x");
  EXPECT_EQ(Utf8ToCodePoints(std::string("\0a", 2)), (std::u32string{0, U'a'}));
}

}  // namespace
}  // namespace rilvano
