// A serial driver that breaks in the middle of a session: once told to, the
// next flush of the port throws, out of the receive tick, an exception
// nothing expects. What the program must leave behind is the same for every
// view: the box with the reason, the log of what was done, closed, and a
// failure status.
#pragma once

#include <regex>
#include <stdexcept>
#include <string>

#include "modbus/cp1251.h"
#include "requests/requests.h"
#include "serial/SerialPort.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

namespace rilvano::test {

class FailingPlatform : public FakePlatform {
 public:
  static constexpr const char* kReason = "сбой драйвера порта";
  // What the box says when the exception is no std::exception and has no
  // text to give.
  static constexpr const char* kNoReason = "причина неизвестна";
  bool broken = false;
  // Broken, it throws something that is no std::exception, as C code or
  // another library may.
  bool foreign = false;
  struct Foreign {};

  bool FlushFileBuffers(comm::Handle h) override {
    if (broken && foreign) throw Foreign{};
    if (broken) throw std::runtime_error(kReason);
    return FakePlatform::FlushFileBuffers(h);
  }
};

// A test in its own folder, with this backend in place of the real one.
class FailingPlatformTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    SerialPort::SetPlatform(&platform);
  }
  void TearDown() override {
    SerialPort::SetPlatform(nullptr);
    TempDirTest::TearDown();
  }
  FailingPlatform platform;
};

// The log of a run that opened COM3:, sent the default read and then failed:
// its start line as "DATE" and its time stamps as "T".
inline std::string MaskedLog(const std::string& bytes) {
  const std::string dated = std::regex_replace(bytes, std::regex("^[^\r\n]*\r\n"), "DATE\r\n");
  return std::regex_replace(dated, std::regex("(^|\r\n)[0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\\.[0-9]{1,3}\r\n"), "$1T\r\n");
}

inline std::string LogBeforeTheFailure() {
  return "DATE\r\nSTART Rilvano V3.0\r\n\r\nT\r\n" + Utf8ToCp1251(kSendHeader) + "01 03 00 00 00 01 84 0A \r\n";
}

}  // namespace rilvano::test
