// The thin platform layer under SerialPort: the handful of communications
// calls the driver relies on, with Win32 semantics. One backend per platform
// (comm_posix.cpp, comm_win32.cpp), picked by CMake; tests swap in a fake.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rilvano::comm {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

struct Timeouts {
  std::uint32_t readInterval;
  std::uint32_t readTotalMultiplier;
  std::uint32_t readTotalConstant;
  std::uint32_t writeTotalMultiplier;
  std::uint32_t writeTotalConstant;
};

// What a settings text such as "9600,n,8,1" fills in; starts all zero.
struct LineSettings {
  std::uint32_t baud = 0;
  char parity = 0;  // 'n', 'e', 'o', 'm', 's'
  std::uint8_t dataBits = 0;
  std::uint8_t stopBits = 0;  // 1 or 2 (15 for 1.5)
  // The platform's own block as its parser left it (the Win32 DCB), so the
  // fields the text does not name reach the port as the platform set them,
  // save what Windows insists on (binary mode, distinct XON/XOFF characters).
  std::array<std::uint8_t, 32> native{};
};

class Platform {
 public:
  virtual ~Platform() = default;
  virtual Handle CreateFile(const std::string& port) = 0;
  virtual bool SetCommTimeouts(Handle handle, const Timeouts& timeouts) = 0;
  virtual bool BuildCommDCB(const std::string& settings, LineSettings& dcb) = 0;
  virtual bool SetCommState(Handle handle, const LineSettings& dcb) = 0;
  virtual std::uint32_t GetLastError() = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // Returns the success flag; `transferred` is set in every case.
  virtual bool ReadFile(Handle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) = 0;
  virtual bool WriteFile(Handle handle, const std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) = 0;
  virtual bool FlushFileBuffers(Handle handle) = 0;
};

// The backend compiled into this build.
Platform& NativePlatform();

}  // namespace rilvano::comm
