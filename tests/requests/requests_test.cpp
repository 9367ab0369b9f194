#include "requests/requests.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "modbus/bytes.h"
#include "tests/requests/request_cases.h"

namespace rilvano {
namespace {

using test::Command;

Request Build(Command command, const char* slave, const char* first, const char* second,
              const RequestNumbers& before = {}) {
  switch (command) {
    case Command::Read: return ReadRequest(slave, first, second, before);
    case Command::Write: return WriteRequest(slave, first, second, before);
    case Command::CharWrite: return CharWriteRequest(slave, first, second, before);
    case Command::Info: return InfoRequest(slave, before);
  }
  return {};
}

class FrameTable : public ::testing::TestWithParam<test::FrameCase> {};

TEST_P(FrameTable, BodyPlusCrcIsTheExpectedFrame) {
  const auto& c = GetParam();
  const Request r = Build(c.command, c.slave, c.first, c.second);
  ASSERT_FALSE(r.Refused()) << r.refusal;
  EXPECT_EQ(HexList(r.body + CRC16(r.body)), std::string(c.frame) + " ");
}

INSTANTIATE_TEST_SUITE_P(Fields, FrameTable, ::testing::ValuesIn(test::FrameCases()));

class RefusalTable : public ::testing::TestWithParam<test::RefusalCase> {};

TEST_P(RefusalTable, NamesTheFieldAndBuildsNothing) {
  const auto& c = GetParam();
  const RequestNumbers before{1, 2, 3, 4, 5};
  const Request r = Build(c.command, c.slave, c.first, c.second, before);
  ASSERT_TRUE(r.Refused());
  EXPECT_TRUE(r.body.empty());
  EXPECT_EQ(r.numbers, before);
  for (const char* fragment : c.says) {
    EXPECT_NE(r.refusal.find(fragment), std::string::npos) << "missing \"" << fragment << "\" in\n"
                                                           << r.refusal;
  }
}

INSTANTIATE_TEST_SUITE_P(Fields, RefusalTable, ::testing::ValuesIn(test::RefusalCases()));

TEST(Refusal, NamesEveryBadFieldOnItsOwnLine) {
  const Request r = ReadRequest("300", "-1", "70000", {});
  ASSERT_TRUE(r.Refused());
  EXPECT_EQ(std::count(r.refusal.begin(), r.refusal.end(), '\n'), 2) << r.refusal;
  for (const char* field : {"«Адрес ячейки»", "«Кол-во»", "«Адрес»"}) {
    EXPECT_NE(r.refusal.find(field), std::string::npos) << field;
  }
}

TEST(Refusal, GoodFieldsAreNotBlamed) {
  const Request r = WriteRequest("1", "0", "65536", {});
  ASSERT_TRUE(r.Refused());
  EXPECT_EQ(r.refusal.find("«Адрес"), std::string::npos) << r.refusal;
  EXPECT_EQ(r.refusal.find('\n'), std::string::npos);
}

// The window variables hold the unrounded halves, as the steps compute them.
TEST(Numbers, ReadAndWriteLeaveTheSecondFieldInNumValue) {
  const Request read = ReadRequest("1", "300", "8", {});
  EXPECT_EQ(read.numbers, (RequestNumbers{8, 1, 44, 0, 8}));

  const Request write = WriteRequest("1", "5", "1000.5", {});
  EXPECT_EQ(write.numbers, (RequestNumbers{1000.5, 0, 5, 3, 232.5}));
  EXPECT_EQ(HexList(write.body), "01 06 00 05 03 E8 ");  // 232.5 ties to 232
}

TEST(Numbers, CharWriteKeepsWord2Hi) {
  const Request r = CharWriteRequest("1", "10", "z9", RequestNumbers{1, 2, 3, 77, 5});
  EXPECT_EQ(r.numbers, (RequestNumbers{0x39, 0, 10, 77, 0x7A}));
}

TEST(Numbers, InfoTouchesNone) {
  const RequestNumbers before{1, 2, 3, 4, 5};
  EXPECT_EQ(InfoRequest("1", before).numbers, before);
}

}  // namespace
}  // namespace rilvano
