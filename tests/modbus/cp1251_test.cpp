#include "modbus/cp1251.h"

#include <gtest/gtest.h>

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

TEST(Cp1251, KnownCharacters) {
  EXPECT_EQ(Cp1251ToUnicode(0xC4), U'Д');
  EXPECT_EQ(Cp1251ToUnicode(0xE0), U'а');
  EXPECT_EQ(Cp1251ToUnicode(0xA8), U'Ё');
  EXPECT_EQ(Cp1251ToUnicode(0xB8), U'ё');
  EXPECT_EQ(Cp1251ToUnicode(0x88), U'€');
  EXPECT_EQ(Cp1251ToUnicode(0xB9), U'№');
  EXPECT_EQ(Cp1251ToUnicode(0x98), char32_t{0x98});
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
