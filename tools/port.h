// The line end the simulator serves, as its loop sees it. One backend per
// platform supplies OpenPort: port_posix.cpp (a pseudo-terminal, or a serial
// device with --device), port_win32.cpp (a COM port with --device). The loop
// itself (engine.cpp) needs nothing else of the operating system.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "serial/comm.h"
#include "tools/slave.h"

namespace rilvano::sim {

class Port {
 public:
  virtual ~Port() = default;

  // What the simulator prints at start: the device it serves, and the port
  // name to type into the window ("" when the window's port is elsewhere,
  // as with a real device).
  virtual std::string Device() const = 0;
  virtual std::string PortName() const = 0;

  struct Events {
    bool readable = false;  // Read has something to say (bytes, or a hang-up)
    bool stop = false;      // an interrupt (Ctrl+C) or a termination request
  };
  // Waits at most `timeoutMs` for bytes from the master or, when `wantWrite`,
  // for room to write; returns early on a stop request.
  virtual Events Wait(double timeoutMs, bool wantWrite) = 0;

  // What has come, at most `size` bytes: the count, 0 when nothing, -1 when
  // the master let go of the line.
  virtual long Read(char* buffer, std::size_t size) = 0;
  // Writes what the line takes now: the count, 0 when it is full, -1 when
  // nobody is there to take bytes (they are dropped).
  virtual long Write(const char* data, std::size_t size) = 0;

  // The rate the master set on its end of the line; 0 when unknowable.
  virtual unsigned MasterBaud() = 0;

  // Why the line cannot be served any more (a device unplugged); "" while it can.
  virtual std::string Lost() const = 0;
};

// What --device sets on the port: raw 8N1 at --baud.
inline comm::LineSettings DeviceSettings(const Options& options) {
  comm::LineSettings settings;
  settings.baud = options.baud;
  settings.parity = 'n';
  settings.dataBits = 8;
  settings.stopBits = 1;
  return settings;
}

// Opens the line the options ask for; nullptr with `error` set when it cannot.
std::unique_ptr<Port> OpenPort(const Options& options, std::string& error);

}  // namespace rilvano::sim
