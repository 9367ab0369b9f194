// The Windows backend: the kernel32 communications calls themselves.
#include "serial/comm.h"
#include "serial/comm_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The A/W macros would rename the Platform methods below.
#undef CreateFile
#undef BuildCommDCB

#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <string>

namespace rilvano::comm {
namespace {

static_assert(sizeof(DCB) <= sizeof(LineSettings::native), "the DCB image must fit");

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// The "A" calls read their text in the system's ANSI code page, and our text
// is UTF-8: convert explicitly, and refuse what the page cannot hold rather
// than let a best-fit guess ("COM３" as "COM3") reach another device or file.
bool ToAnsi(const std::string& utf8, std::string& ansi) {
  ansi.clear();
  if (utf8.empty()) return true;
  if (utf8.size() > static_cast<std::size_t>(INT_MAX) || utf8.find('\0') != std::string::npos) return false;
  const int size = static_cast<int>(utf8.size());
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (units <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), units);
  // A system whose ANSI page is UTF-8 takes the text as it is.
  if (GetACP() == CP_UTF8) {
    ansi = utf8;
    return true;
  }
  BOOL lossy = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr, 0, nullptr, &lossy);
  if (bytes <= 0 || lossy) return false;
  ansi.assign(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, ansi.data(), bytes, nullptr, nullptr);
  return true;
}

bool IsComName(const std::string& name) {
  if (name.size() < 4) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// "COM3" and "COM3:" (any case) go through the device namespace, "\\.\COM3":
// the plain form reaches COM1 to COM9 only. Any other name is passed as typed,
// and Windows resolves it as it would for any program ("LPT1:", "\\.\CNCA0").
std::string DeviceName(const std::string& port) {
  std::string name = port;
  if (!name.empty() && name.back() == ':') name.pop_back();
  if (!IsComName(name)) return port;
  return "\\\\.\\COM" + name.substr(3);
}

char ParityLetter(BYTE parity) {
  switch (parity) {
    case ODDPARITY: return 'o';
    case EVENPARITY: return 'e';
    case MARKPARITY: return 'm';
    case SPACEPARITY: return 's';
    default: return 'n';
  }
}

// Returns false for a letter the block has no code for.
bool ParityCode(char letter, BYTE& parity) {
  switch (std::tolower(static_cast<unsigned char>(letter))) {
    case 'n': parity = NOPARITY; return true;
    case 'o': parity = ODDPARITY; return true;
    case 'e': parity = EVENPARITY; return true;
    case 'm': parity = MARKPARITY; return true;
    case 's': parity = SPACEPARITY; return true;
    default: return false;
  }
}

std::uint8_t StopBitsCount(BYTE stopBits) {
  switch (stopBits) {
    case ONE5STOPBITS: return 15;
    case TWOSTOPBITS: return 2;
    default: return 1;
  }
}

bool StopBitsCode(std::uint8_t count, BYTE& stopBits) {
  switch (count) {
    case 1: stopBits = ONESTOPBIT; return true;
    case 15: stopBits = ONE5STOPBITS; return true;
    case 2: stopBits = TWOSTOPBITS; return true;
    default: return false;
  }
}

// A name the ANSI page cannot hold opens nothing, like a missing port.
Handle Open(const std::string& port, DWORD flags) {
  std::string name;
  if (!ToAnsi(DeviceName(port), name)) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return kInvalidHandle;
  }
  HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
  return reinterpret_cast<Handle>(handle);
}

class Win32Platform final : public Platform {
 public:
  Handle CreateFile(const std::string& port) override { return Open(port, 0); }

  bool SetCommTimeouts(Handle handle, const Timeouts& timeouts) override {
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = timeouts.readInterval;
    native.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    if (!::SetCommTimeouts(ToHandle(handle), &native)) return false;
    timeouts_[handle] = timeouts;
    return true;
  }

  // The block starts all zero and the platform's parser fills what it fills;
  // the whole block is kept so SetCommState applies it unchanged.
  bool BuildCommDCB(const std::string& settings, LineSettings& dcb) override {
    std::string text;
    if (!ToAnsi(settings, text)) {
      ::SetLastError(ERROR_INVALID_PARAMETER);  // what the parser says of text it cannot read
      return false;
    }
    DCB native;
    std::memset(&native, 0, sizeof native);
    native.DCBlength = sizeof native;
    if (!::BuildCommDCBA(text.c_str(), &native)) return false;
    dcb.baud = native.BaudRate;
    dcb.parity = ParityLetter(native.Parity);
    dcb.dataBits = native.ByteSize;
    dcb.stopBits = StopBitsCount(native.StopBits);
    dcb.native.fill(0);
    std::memcpy(dcb.native.data(), &native, sizeof native);
    return true;
  }

  // The named fields win over the kept block; a block set up field by field
  // has an all-zero image.
  bool SetCommState(Handle handle, const LineSettings& dcb) override {
    DCB native;
    std::memcpy(&native, dcb.native.data(), sizeof native);
    native.DCBlength = sizeof native;
    native.BaudRate = dcb.baud;
    native.ByteSize = dcb.dataBits;
    ParityCode(dcb.parity, native.Parity);
    StopBitsCode(dcb.stopBits, native.StopBits);
    // Windows only does binary transfers, and drivers may refuse a block whose
    // XON and XOFF characters are equal (both 0 in a block that started
    // zeroed). The characters matter only if XON/XOFF is asked for, and then
    // these are the standard ones.
    native.fBinary = TRUE;
    if (native.XonChar == native.XoffChar) {
      native.XonChar = 0x11;
      native.XoffChar = 0x13;
    }
    return ::SetCommState(ToHandle(handle), &native) != 0;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }

  bool CloseHandle(Handle handle) override {
    timeouts_.erase(handle);
    return ::CloseHandle(ToHandle(handle)) != 0;
  }

  // A port whose device is gone (an adapter pulled out) fails every read at
  // once; the read still takes its time, as on a silent line, or the
  // window's 10 ms poller would spin on it.
  bool ReadFile(Handle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) override {
    const ULONGLONG start = ::GetTickCount64();
    DWORD count = 0;
    const BOOL ok = ::ReadFile(ToHandle(handle), buffer, size, &count, nullptr);
    transferred = count;
    const auto set = timeouts_.find(handle);
    if (!ok && count == 0 && set != timeouts_.end()) {
      const DWORD error = ::GetLastError();
      const ULONGLONG total = ULONGLONG{set->second.readTotalMultiplier} * size + set->second.readTotalConstant;
      const ULONGLONG spent = ::GetTickCount64() - start;
      if (spent < total) ::Sleep(static_cast<DWORD>(total - spent));
      ::SetLastError(error);
    }
    return ok != 0;
  }

  bool WriteFile(Handle handle, const std::uint8_t* buffer, std::uint32_t size, std::uint32_t& transferred) override {
    DWORD count = 0;
    const BOOL ok = ::WriteFile(ToHandle(handle), buffer, size, &count, nullptr);
    transferred = count;
    return ok != 0;
  }

  bool FlushFileBuffers(Handle handle) override { return ::FlushFileBuffers(ToHandle(handle)) != 0; }

 private:
  // The time-outs each open port was given, for reads that fail early.
  std::map<Handle, Timeouts> timeouts_;
};

}  // namespace

Handle CreateOverlapped(const std::string& port) { return Open(port, FILE_FLAG_OVERLAPPED); }

Platform& NativePlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace rilvano::comm
