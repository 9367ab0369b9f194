// The Windows line end: a COM port (--device), opened by the program's own
// port layer for overlapped I/O and set up raw 8N1 at --baud. Windows has no
// pseudo-terminal to make, so the port is required: a second adapter wired
// to the master's, or one end of a virtual null-modem pair.
//
// A read of what has come (at least one byte) is always under way, and the
// loop waits on its event and on the stop event together. The timed-out
// read (ReadIntervalTimeout and the multiplier at MAXDWORD) is not used:
// Wine's serial layer returns it only when its time is up, not at the first
// byte. Writes wait until the driver has taken the bytes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>  // with mmsystem.h, for timeBeginPeriod

#include <algorithm>
#include <cmath>

#include "serial/comm.h"
#include "serial/comm_win32.h"
#include "tools/port.h"

namespace rilvano::sim {

namespace {

// Set by Ctrl+C, Ctrl+Break, or closing the console window.
HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  SetEvent(g_stop);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the window, logging off, shutting down: the process ends as
  // soon as this returns, so it waits instead while the loop ends and main
  // returns (Windows allows a few seconds).
  Sleep(INFINITE);
  return TRUE;
}

// Why a COM port could not be opened, in words an operator acts on.
std::string OpenFailure(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such port";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "in use by another program";
    case ERROR_NO_UNICODE_TRANSLATION:
      return "the name cannot be written in this system's code page";
    default:
      return "Windows error " + std::to_string(code);
  }
}

class ComPort final : public Port {
 public:
  ComPort(HANDLE handle, std::string device) : handle_(handle), device_(std::move(device)) {
    read_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    write_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~ComPort() override {
    if (reading_) {
      CancelIo(handle_);
      DWORD n = 0;
      GetOverlappedResult(handle_, &read_, &n, TRUE);  // the buffer stays ours until it ends
    }
    CloseHandle(read_.hEvent);
    CloseHandle(write_.hEvent);
    CloseHandle(handle_);
  }
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;

  std::string Device() const override { return device_; }
  std::string PortName() const override { return {}; }  // the window is on the other end
  // Nothing on this end tells the rate the far end's master set.
  unsigned MasterBaud() override { return 0; }
  std::string Lost() const override { return lost_ ? device_ + ": the device went away" : std::string(); }

  Events Wait(double timeoutMs, bool wantWrite) override {
    Take();
    // Writes always find room (they wait), so with something to write only
    // what has already come is looked at.
    if (pending_.empty() && !lost_ && !wantWrite) {
      const HANDLE events[] = {g_stop, read_.hEvent};
      WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(std::ceil(std::max(timeoutMs, 0.0))));
      Take();
    }
    Events events;
    events.readable = !pending_.empty() || lost_;
    events.stop = WaitForSingleObject(g_stop, 0) == WAIT_OBJECT_0;
    return events;
  }

  long Read(char* buffer, std::size_t size) override {
    if (pending_.empty() && lost_) return -1;
    const std::size_t n = std::min(size, pending_.size());
    pending_.copy(buffer, n);
    pending_.erase(0, n);
    return static_cast<long>(n);
  }

  long Write(const char* data, std::size_t size) override {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 16));
    if (!WriteFile(handle_, data, count, &written, &write_) &&
        (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(handle_, &write_, &written, TRUE))) {
      return -1;
    }
    return static_cast<long>(written);
  }

 private:
  // Moves what the port has received into pending_, and leaves a read under
  // way: of everything queued, or of one byte when nothing is (with no
  // time-outs set, a read waits for all the bytes it asks for).
  void Take() {
    while (!lost_ && pending_.size() < sizeof buffer_) {
      if (reading_) {
        if (WaitForSingleObject(read_.hEvent, 0) != WAIT_OBJECT_0) return;
        DWORD n = 0;
        reading_ = false;
        if (!GetOverlappedResult(handle_, &read_, &n, FALSE)) {
          lost_ = true;  // an adapter pulled out: its calls fail from now on
          return;
        }
        pending_.append(buffer_, n);
      }
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(handle_, &errors, &status)) {
        lost_ = true;
        return;
      }
      const DWORD ask = std::clamp<DWORD>(status.cbInQue, 1, sizeof buffer_);
      DWORD n = 0;
      if (ReadFile(handle_, buffer_, ask, &n, &read_)) {
        pending_.append(buffer_, n);
      } else if (GetLastError() == ERROR_IO_PENDING) {
        reading_ = true;
      } else {
        lost_ = true;
      }
    }
  }

  HANDLE handle_;
  std::string device_;
  OVERLAPPED read_{};
  OVERLAPPED write_{};
  char buffer_[4096];
  bool reading_ = false;
  std::string pending_;  // received, not yet taken by Read
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<Port> OpenPort(const Options& options, std::string& error) {
  if (options.device.empty()) {
    error = "Windows has no pseudo-terminals: give the COM port to serve with --device, e.g. --device COM6";
    return nullptr;
  }
  g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
  comm::Platform& platform = comm::NativePlatform();
  const comm::Handle handle = comm::CreateOverlapped(options.device);
  if (handle == comm::kInvalidHandle) {
    error = "cannot open " + options.device + ": " + OpenFailure(GetLastError());
    return nullptr;
  }
  // No time-outs: a read waits for the bytes it asks for, a write until the
  // driver has taken them.
  if (!platform.SetCommState(handle, DeviceSettings(options)) ||
      !platform.SetCommTimeouts(handle, comm::Timeouts{})) {
    const DWORD code = GetLastError();
    platform.CloseHandle(handle);
    error = "cannot set " + options.device + " to " + std::to_string(options.baud) +
            " baud, 8N1 (is it a serial port?): Windows error " + std::to_string(code);
    return nullptr;
  }
  const auto native = reinterpret_cast<HANDLE>(handle);
  PurgeComm(native, PURGE_RXCLEAR | PURGE_TXCLEAR);
  if (options.line) {
    // A timed line stands in for hardware: waits to the millisecond rather
    // than to the system's default tick of 15.6 ms, and a better place in
    // the queue for the CPU.
    timeBeginPeriod(1);
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  }
  return std::make_unique<ComPort>(native, options.device);
}

}  // namespace rilvano::sim
