#include "requests/number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

namespace rilvano {
namespace {

struct ValueCase {
  const char* text;
  double value;
};

class NumericValueTable : public ::testing::TestWithParam<ValueCase> {};

TEST_P(NumericValueTable, ReadsTheLeadingNumber) {
  EXPECT_DOUBLE_EQ(NumericValue(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumericValueTable,
    ::testing::Values(
        ValueCase{"", 0}, ValueCase{"abc", 0}, ValueCase{"1", 1}, ValueCase{"12abc", 12},
        ValueCase{"1,5", 1}, ValueCase{"1 0", 10}, ValueCase{" \t\n42", 42}, ValueCase{"4\t2", 42},
        ValueCase{"\r5", 0},  // only blanks, tabs and line feeds are skipped
        ValueCase{"-7", -7}, ValueCase{"+7", 7}, ValueCase{"- 7", -7}, ValueCase{"--7", 0},
        ValueCase{"2.5", 2.5}, ValueCase{".5", 0.5}, ValueCase{"-.5", -0.5}, ValueCase{"1.2.3", 1.2},
        ValueCase{".", 0}, ValueCase{"1e3", 1000}, ValueCase{"1E+2", 100}, ValueCase{"25E-1", 2.5},
        ValueCase{"1E", 1}, ValueCase{"1E+", 1}, ValueCase{"1 E 2", 100}, ValueCase{" 256", 256},
        ValueCase{"&HFFFF", 65535}, ValueCase{"&hff", 255}, ValueCase{"&H1G", 1}, ValueCase{"&H", 0},
        ValueCase{"&O17", 15}, ValueCase{"&o8", 0}, ValueCase{"&X1", 0}, ValueCase{"&HFFFFFFFF", 4294967295.0},
        ValueCase{"65535", 65535}, ValueCase{"1.5", 1.5}, ValueCase{"0001", 1}, ValueCase{"Да", 0}));

TEST(NumericValue, IgnoresTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    EXPECT_DOUBLE_EQ(NumericValue("2.5"), 2.5);
    EXPECT_DOUBLE_EQ(NumericValue("2,5"), 2);
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(NumericValue, HugeAndTinyExponentsStayNumbers) {
  EXPECT_TRUE(std::isinf(NumericValue("1E999")));
  EXPECT_DOUBLE_EQ(NumericValue("1E-999"), 0);
  EXPECT_TRUE(std::isinf(NumericValue(std::string(400, '9'))));  // too many digits, no exponent
}

TEST(ByteFromNumber, RoundsTiesToEvenAndRefusesOutOfRange) {
  const struct {
    double in;
    int out;  // -1: no byte
  } cases[] = {{0, 0},     {255, 255},  {2.5, 2},   {3.5, 4},     {0.5, 0},  {1.5, 2},     {254.5, 254},
               {255.4, 255}, {255.5, -1}, {-0.4, 0}, {-0.5, 0},   {-0.6, -1}, {256, -1},    {-1, -1},
               {NAN, -1},  {INFINITY, -1}, {-INFINITY, -1}, {1e300, -1}};
  for (const auto& c : cases) {
    const auto byte = ByteFromNumber(c.in);
    if (c.out < 0) {
      EXPECT_FALSE(byte.has_value()) << c.in;
    } else {
      ASSERT_TRUE(byte.has_value()) << c.in;
      EXPECT_EQ(*byte, c.out) << c.in;
    }
  }
}

TEST(SplitWord, HighIsFloorAndLowIsTheRest) {
  const struct {
    double v, hi, lo;
  } cases[] = {{0, 0, 0}, {255, 0, 255}, {256, 1, 0}, {300, 1, 44}, {65535, 255, 255},
               {65535.5, 255, 255.5}, {-1, -1, 255}, {2.5, 0, 2.5}, {65536, 256, 0}};
  for (const auto& c : cases) {
    const Split16 s = SplitWord(c.v);
    EXPECT_DOUBLE_EQ(s.hi, c.hi) << c.v;
    EXPECT_DOUBLE_EQ(s.lo, c.lo) << c.v;
  }
}

TEST(NumberText, SignPositionAndNoPointForWholeNumbers) {
  const struct {
    double v;
    const char* text;
  } cases[] = {{0, " 0"},     {-0.0, " 0"},     {1, " 1"},           {256, " 256"},  {-1, "-1"},
               {0.5, " 0.5"}, {-0.5, "-0.5"},  {2.25, " 2.25"},     {65535, " 65535"}, {1e15, " 1E+15"},
               {123456789012345, " 123456789012345"}, {0.1, " 0.1"}, {1.0 / 3, " 0.333333333333333"}};
  for (const auto& c : cases) EXPECT_EQ(NumberText(c.v), c.text) << c.v;
}

TEST(NumberText, ReadsBackAsTheSameNumber) {
  for (double v : {0.0, 1.0, -1.0, 255.0, 256.0, -32768.5, 65535.0, 0.125}) {
    EXPECT_DOUBLE_EQ(NumericValue(NumberText(v)), v);
  }
}

}  // namespace
}  // namespace rilvano
