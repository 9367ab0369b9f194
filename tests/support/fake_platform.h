// A serial backend that records every call ("CreateFile COM3:", ...) and
// plays the device from fields the test sets: for SerialPort itself and for
// the window above it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "serial/comm.h"

namespace rilvano::test {

class FakePlatform : public comm::Platform {
 public:
  std::vector<std::string> log;          // every call, in order
  std::vector<std::string> writes;       // the bytes of each WriteFile
  comm::Timeouts timeouts{};
  bool createOk = true, timeoutsOk = true, buildOk = true, stateOk = true;
  std::set<std::string> existing;         // open even when !createOk
  std::uint32_t error = 0;
  std::uint32_t writeLimit = 0xFFFFFFFF;  // bytes one WriteFile accepts
  std::string incoming;                   // what the next ReadFile delivers
  std::uint32_t readSize = 0;
  std::function<void()> onCreate, onClose;  // run inside those calls
  comm::Handle lastHandle = 40;

  // What followed the name in each logged call to `call`, in order.
  std::vector<std::string> Calls(const std::string& call) const {
    std::vector<std::string> args;
    for (const std::string& entry : log) {
      if (entry.rfind(call + " ", 0) == 0) args.push_back(entry.substr(call.size() + 1));
    }
    return args;
  }

  comm::Handle CreateFile(const std::string& port) override {
    log.push_back("CreateFile " + port);
    if (onCreate) onCreate();
    return createOk || existing.count(port) ? ++lastHandle : comm::kInvalidHandle;
  }
  bool SetCommTimeouts(comm::Handle h, const comm::Timeouts& t) override {
    log.push_back("SetCommTimeouts " + std::to_string(h));
    timeouts = t;
    return timeoutsOk;
  }
  bool BuildCommDCB(const std::string& settings, comm::LineSettings& dcb) override {
    log.push_back("BuildCommDCB " + settings);
    dcb.baud = 9600;
    return buildOk;
  }
  bool SetCommState(comm::Handle h, const comm::LineSettings& dcb) override {
    log.push_back("SetCommState " + std::to_string(h) + " " + std::to_string(dcb.baud));
    return stateOk;
  }
  std::uint32_t GetLastError() override {
    log.push_back("GetLastError");
    return error;
  }
  bool CloseHandle(comm::Handle h) override {
    log.push_back("CloseHandle " + std::to_string(h));
    if (onClose) onClose();
    return true;
  }
  bool ReadFile(comm::Handle h, std::uint8_t* buffer, std::uint32_t size, std::uint32_t& n) override {
    log.push_back("ReadFile " + std::to_string(h));
    readSize = size;
    n = static_cast<std::uint32_t>(std::min<std::size_t>(size, incoming.size()));
    std::copy(incoming.begin(), incoming.begin() + n, buffer);
    incoming.erase(0, n);
    return n > 0;
  }
  bool WriteFile(comm::Handle h, const std::uint8_t* buffer, std::uint32_t size, std::uint32_t& n) override {
    log.push_back("WriteFile " + std::to_string(h));
    writes.emplace_back(buffer, buffer + size);
    n = std::min(size, writeLimit);
    return n == size;
  }
  bool FlushFileBuffers(comm::Handle h) override {
    log.push_back("FlushFileBuffers " + std::to_string(h));
    return true;
  }
};

}  // namespace rilvano::test
