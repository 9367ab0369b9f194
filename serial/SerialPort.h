// The one serial port of the program: module-level state and five plain
// procedures, over the platform layer of comm.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/comm.h"

namespace rilvano::SerialPort {

extern comm::Handle PortHandle;
extern std::array<std::uint8_t, 256> IoBuffer;

// -1 when the port is open and configured, 0 otherwise.
std::int16_t OpenPort(const std::string& port, const std::string& settings);
// Nonzero when a handle was closed, 0 when nothing was open.
std::int32_t ClosePort();
void FlushPort();
// 0 to 255 bytes, one char per byte; empty when nothing arrived.
std::string ReadPort();
// The number of bytes written.
std::int16_t WritePort(const std::string& data);
// The platform's error number from the last open that failed or the last
// write that fell short; 0 when the platform gave none.
std::uint32_t LastError();

// Where the configuration messages go (the window shows them as boxes).
using MessageSink = std::function<void(const std::string& text)>;
void SetMessageSink(MessageSink sink);

// Test seam: nullptr restores the native backend.
void SetPlatform(comm::Platform* platform);

}  // namespace rilvano::SerialPort
