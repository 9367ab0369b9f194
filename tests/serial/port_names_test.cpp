#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "serial/port_names.h"

namespace {

using rilvano::comm::DevicePath;

struct NameCase {
  const char* name;
  const char* path;  // "" opens nothing
};

// Devices the fake file system holds.
const std::set<std::string> kExisting = {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyAMA0", "/dev/tty1"};

class PortNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNameTest, MapsToItsDevice) {
  const auto exists = [](const std::string& p) { return kExisting.count(p) > 0; };
  EXPECT_EQ(DevicePath(GetParam().name, exists), GetParam().path) << "name: \"" << GetParam().name << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortNameTest,
    ::testing::Values(
        // Windows names
        NameCase{"COM1", "/dev/ttyS0"}, NameCase{"COM3:", "/dev/ttyS2"}, NameCase{"com12:", "/dev/ttyS11"},
        NameCase{"Com01", "/dev/ttyS0"}, NameCase{"PTS4:", "/dev/pts/4"}, NameCase{"pts0", "/dev/pts/0"},
        // short device names
        NameCase{"USB0", "/dev/ttyUSB0"}, NameCase{"ACM0:", "/dev/ttyACM0"}, NameCase{"S0", "/dev/ttyS0"},
        NameCase{"AMA0", "/dev/ttyAMA0"}, NameCase{"ttyUSB0", "/dev/ttyUSB0"}, NameCase{"USB7", "/dev/USB7"},
        // paths
        NameCase{"/dev/ttyUSB3", "/dev/ttyUSB3"}, NameCase{"/tmp/x:", "/tmp/x"}, NameCase{"./port", "./port"},
        // one colon only is dropped
        NameCase{"COM3::", "/dev/COM3:"},
        // names that open nothing
        NameCase{"", ""}, NameCase{":", ""}, NameCase{"COM0", ""}, NameCase{"COM0:", ""}, NameCase{"3", ""},
        NameCase{"12:", ""}, NameCase{"COM99999999999999999999", ""}, NameCase{"-x", ""},
        NameCase{"tty", ""}, NameCase{"tty1", ""}, NameCase{"1", ""}, NameCase{"console", ""},
        NameCase{"/dev/tty", ""}, NameCase{"/dev/tty:", ""}, NameCase{"/dev/tty7", ""}, NameCase{"/dev/console", ""},
        NameCase{"/dev//tty", ""}, NameCase{"/dev/./tty1", ""}, NameCase{"/dev/pts/../tty", ""},
        NameCase{"/dev/tty63", ""}, NameCase{"/dev/../dev/console", ""}, NameCase{"/dev/tty0x", "/dev/tty0x"}),
    [](const auto& info) {
      std::string label = std::to_string(info.index) + "_";
      for (const char* c = info.param.name; *c; ++c) label += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return label;
    });

TEST(PortName, EmbeddedNulOpensNothing) {
  const auto exists = [](const std::string&) { return true; };
  EXPECT_EQ(DevicePath(std::string("COM3\0/etc/passwd", 16), exists), "");
  EXPECT_EQ(DevicePath(std::string("USB0\0", 5), exists), "");
}

}  // namespace
