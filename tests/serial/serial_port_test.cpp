// SerialPort over a recording fake backend: what reaches the platform, in
// which pieces and order, and what the operator is told.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/fake_platform.h"

namespace {

using namespace rilvano;

using test::FakePlatform;

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SerialPort::SetPlatform(&fake);
    SerialPort::SetMessageSink([this](const std::string& text) {
      messages.push_back(text);
      fake.log.push_back("message");
    });
  }
  void TearDown() override {
    SerialPort::SetPlatform(nullptr);
    SerialPort::SetMessageSink(nullptr);
  }
  void Open() {
    ASSERT_EQ(SerialPort::OpenPort("COM3:", "9600,n,8,1"), -1);
    fake.log.clear();
  }

  FakePlatform fake;
  std::vector<std::string> messages;
};

std::string Pattern(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(i * 7 % 256));
  return s;
}

TEST_F(SerialPortTest, OpenConfiguresInOrderWithTheFixedTimeouts) {
  EXPECT_EQ(SerialPort::OpenPort("COM3:", " 9600,n,8,1"), -1);
  EXPECT_EQ(SerialPort::PortHandle, 41);
  EXPECT_EQ(fake.log, (std::vector<std::string>{"CreateFile COM3:", "SetCommTimeouts 41", "BuildCommDCB  9600,n,8,1",
                                                "SetCommState 41 9600"}));
  EXPECT_EQ(fake.timeouts.readInterval, 20u);
  EXPECT_EQ(fake.timeouts.readTotalMultiplier, 1u);
  EXPECT_EQ(fake.timeouts.readTotalConstant, 1u);
  EXPECT_EQ(fake.timeouts.writeTotalMultiplier, 1u);
  EXPECT_EQ(fake.timeouts.writeTotalConstant, 10u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(SerialPortTest, DeviceThatWillNotOpenFailsSilently) {
  fake.createOk = false;
  fake.error = 2;
  EXPECT_EQ(SerialPort::OpenPort("COM9:", "9600,n,8,1"), 0);
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_EQ(fake.log, (std::vector<std::string>{"CreateFile COM9:", "GetLastError"}));
  EXPECT_EQ(SerialPort::LastError(), 2u);  // kept for the request that follows
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(SerialPort::ClosePort(), 0);
}

struct ConfigFailure {
  const char* step;
  bool FakePlatform::*flag;
  std::uint32_t error;
  const char* message;
  std::size_t callsBeforeError;
};

class ConfigFailureTest : public SerialPortTest, public ::testing::WithParamInterface<ConfigFailure> {};

TEST_P(ConfigFailureTest, ShowsTheMessageThenClosesTheHandle) {
  const ConfigFailure& c = GetParam();
  fake.*c.flag = false;
  fake.error = c.error;
  EXPECT_EQ(SerialPort::OpenPort("com3:", "abc,n,8,1"), 0);
  EXPECT_EQ(messages, std::vector<std::string>{c.message});
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  // The error is fetched right after the failing call; the box comes before
  // the handle is given back.
  ASSERT_EQ(fake.log.size(), c.callsBeforeError + 3);
  EXPECT_EQ(fake.log[c.callsBeforeError], "GetLastError");
  EXPECT_EQ(fake.log[c.callsBeforeError + 1], "message");
  EXPECT_EQ(fake.log[c.callsBeforeError + 2], "CloseHandle 41");
  EXPECT_EQ(SerialPort::ClosePort(), 0);
  EXPECT_EQ(fake.log.back(), "CloseHandle 41");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConfigFailureTest,
    ::testing::Values(
        ConfigFailure{"timeouts", &FakePlatform::timeoutsOk, 25, "Unable to set timeouts for port com3: Error: 25", 2},
        ConfigFailure{"build", &FakePlatform::buildOk, 87, "Unable to build Comm DCB abc,n,8,1 Error: 87", 3},
        ConfigFailure{"state", &FakePlatform::stateOk, 4294967295u,
                      "Unable to set Comm DCB abc,n,8,1 Error: 4294967295", 4}),
    [](const auto& info) { return std::string(info.param.step); });

struct Split {
  std::size_t length;
  std::vector<std::size_t> pieces;
};

class WriteSplitTest : public SerialPortTest, public ::testing::WithParamInterface<Split> {};

TEST_P(WriteSplitTest, GoesOutInConsecutivePiecesOf255) {
  Open();
  const std::string data = Pattern(GetParam().length);
  EXPECT_EQ(SerialPort::WritePort(data), static_cast<std::int16_t>(data.size()));
  std::vector<std::size_t> sizes;
  std::string joined;
  for (const std::string& w : fake.writes) {
    sizes.push_back(w.size());
    joined += w;
  }
  EXPECT_EQ(sizes, GetParam().pieces);
  EXPECT_EQ(joined, data);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WriteSplitTest,
                         ::testing::Values(Split{0, {0}}, Split{1, {1}}, Split{255, {255}}, Split{256, {255, 1}},
                                           Split{510, {255, 255}}, Split{600, {255, 255, 90}}),
                         [](const auto& info) { return "Length" + std::to_string(info.param.length); });

TEST_F(SerialPortTest, WriteCountIsWhatThePlatformReports) {
  Open();
  fake.writeLimit = 100;
  EXPECT_EQ(SerialPort::WritePort(Pattern(600)), 290);  // 100 + 100 + 90
  EXPECT_EQ(fake.writes.size(), 3u);  // a short piece is not retried
}

TEST_F(SerialPortTest, WriteCountSaturatesInsteadOfWrapping) {
  Open();
  const std::string data = Pattern(40000);
  EXPECT_EQ(SerialPort::WritePort(data), 32767);
  EXPECT_EQ(fake.writes.size(), (data.size() + 254) / 255);
}

TEST_F(SerialPortTest, ReadAsksFor255AndReturnsExactlyWhatArrived) {
  Open();
  const std::string waiting = std::string("\x00\xFF\x01", 3) + Pattern(300);
  fake.incoming = waiting;
  EXPECT_EQ(SerialPort::ReadPort(), waiting.substr(0, 255));
  EXPECT_EQ(fake.readSize, 255u);
  EXPECT_EQ(SerialPort::ReadPort(), waiting.substr(255));
  EXPECT_EQ(fake.log, (std::vector<std::string>{"ReadFile 41", "ReadFile 41"}));
}

TEST_F(SerialPortTest, EmptyReadFlushes) {
  Open();
  EXPECT_EQ(SerialPort::ReadPort(), "");
  EXPECT_EQ(fake.log, (std::vector<std::string>{"ReadFile 41", "FlushFileBuffers 41"}));
}

TEST_F(SerialPortTest, CloseReturnsZeroWhenNothingIsOpen) {
  EXPECT_EQ(SerialPort::ClosePort(), 0);
  Open();
  EXPECT_NE(SerialPort::ClosePort(), 0);
  EXPECT_EQ(SerialPort::ClosePort(), 0);
  EXPECT_EQ(fake.log, std::vector<std::string>{"CloseHandle 41"});
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
}

TEST_F(SerialPortTest, ClosedPortReachesNoDevice) {
  Open();
  SerialPort::ClosePort();
  fake.log.clear();
  EXPECT_EQ(SerialPort::ReadPort(), "");
  EXPECT_EQ(SerialPort::WritePort("abc"), 0);
  EXPECT_EQ(SerialPort::WritePort(""), 0);
  SerialPort::FlushPort();
  EXPECT_TRUE(fake.log.empty());
  EXPECT_TRUE(messages.empty());
}

TEST_F(SerialPortTest, ReopeningGivesBackTheHandleStillHeld) {
  Open();
  EXPECT_EQ(SerialPort::OpenPort("COM4:", "9600,n,8,1"), -1);
  ASSERT_FALSE(fake.log.empty());
  EXPECT_EQ(fake.log.front(), "CloseHandle 41");
  EXPECT_EQ(SerialPort::PortHandle, 42);
}

TEST_F(SerialPortTest, ThrowingSinkStillClosesTheHandle) {
  SerialPort::SetMessageSink([](const std::string&) { throw std::runtime_error("box"); });
  fake.buildOk = false;
  EXPECT_EQ(SerialPort::OpenPort("COM3:", "x"), 0);
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_EQ(fake.log.back(), "CloseHandle 41");
}

}  // namespace
