#include "serial/SerialPort.h"

#include <algorithm>
#include <iostream>
#include <limits>
#include <string_view>

namespace rilvano::SerialPort {

comm::Handle PortHandle = comm::kInvalidHandle;
std::array<std::uint8_t, 256> IoBuffer{};

namespace {

// Reads end after 20 ms of quiet or 1 ms x 255 + 1 ms; a write of n bytes
// gets n + 10 ms.
constexpr comm::Timeouts kTimeouts{20, 1, 1, 1, 10};
constexpr std::uint32_t kPiece = 255;

comm::Platform* platform = nullptr;
MessageSink sink;
std::uint32_t lastError = 0;

comm::Platform& Platform() { return platform != nullptr ? *platform : comm::NativePlatform(); }

bool IsOpen() { return PortHandle != comm::kInvalidHandle; }

void Show(const std::string& text) {
  if (sink) {
    sink(text);
  } else {
    std::cerr << text << std::endl;
  }
}

// A configuration step failed: tell the operator, then give the handle back.
std::int16_t FailConfiguration(const std::string& what) {
  const std::uint32_t error = lastError = Platform().GetLastError();
  Show(what + " Error: " + std::to_string(error));
  ClosePort();
  return 0;
}

// One platform write of at most 255 bytes through IoBuffer.
std::uint32_t WritePiece(std::string_view piece) {
  std::copy(piece.begin(), piece.end(), IoBuffer.begin());
  std::uint32_t written = 0;
  if (!Platform().WriteFile(PortHandle, IoBuffer.data(), static_cast<std::uint32_t>(piece.size()), written)) {
    lastError = Platform().GetLastError();
  }
  return std::min<std::uint32_t>(written, static_cast<std::uint32_t>(piece.size()));
}

}  // namespace

std::int16_t OpenPort(const std::string& port, const std::string& settings) {
  // A handle still held would otherwise be overwritten and leak, keeping its
  // device locked until the program ends.
  ClosePort();
  lastError = 0;
  try {
    PortHandle = Platform().CreateFile(port);
    if (!IsOpen()) {
      lastError = Platform().GetLastError();
      return 0;
    }
    if (!Platform().SetCommTimeouts(PortHandle, kTimeouts)) {
      return FailConfiguration("Unable to set timeouts for port " + port);
    }
    comm::LineSettings dcb{};
    if (!Platform().BuildCommDCB(settings, dcb)) return FailConfiguration("Unable to build Comm DCB " + settings);
    if (!Platform().SetCommState(PortHandle, dcb)) return FailConfiguration("Unable to set Comm DCB " + settings);
    return -1;
  } catch (...) {
    ClosePort();
    return 0;
  }
}

std::int32_t ClosePort() {
  if (!IsOpen()) return 0;
  const comm::Handle handle = PortHandle;
  PortHandle = comm::kInvalidHandle;
  return Platform().CloseHandle(handle) ? 1 : 0;
}

void FlushPort() {
  if (IsOpen()) Platform().FlushFileBuffers(PortHandle);
}

std::string ReadPort() {
  std::uint32_t received = 0;
  if (IsOpen()) {
    try {
      Platform().ReadFile(PortHandle, IoBuffer.data(), kPiece, received);
    } catch (...) {
      received = 0;
    }
  }
  received = std::min(received, kPiece);
  if (received > 0) return std::string(IoBuffer.begin(), IoBuffer.begin() + received);
  FlushPort();
  return {};
}

std::int16_t WritePort(const std::string& data) {
  if (!IsOpen()) return 0;
  lastError = 0;
  // Consecutive pieces of 255 bytes, the last holding the rest; the empty
  // string is still one write of 0 bytes.
  std::uint64_t total = 0;
  try {
    std::string_view rest(data);
    do {
      const std::string_view piece = rest.substr(0, kPiece);
      rest.remove_prefix(piece.size());
      total += WritePiece(piece);
    } while (!rest.empty());
  } catch (...) {
  }
  // The count is 16 bits: saturate rather than wrap to a negative number.
  return static_cast<std::int16_t>(std::min<std::uint64_t>(total, std::numeric_limits<std::int16_t>::max()));
}

std::uint32_t LastError() { return lastError; }

void SetMessageSink(MessageSink newSink) { sink = std::move(newSink); }

void SetPlatform(comm::Platform* newPlatform) {
  // A handle belongs to the backend that made it.
  ClosePort();
  platform = newPlatform;
}

}  // namespace rilvano::SerialPort
