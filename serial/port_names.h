// How an operator's port name ("COM3:", "USB0", "PTS4", "/dev/ttyS1") becomes
// a device path on POSIX systems. Pure apart from the existence probe, which
// callers pass in so the table can be checked without real devices.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace rilvano::comm {

using PathExists = std::function<bool(const std::string& path)>;

// The device path for `name`, or "" when the name must open nothing.
std::string DevicePath(std::string_view name, const PathExists& exists);

// Same, probing the real file system.
std::string DevicePath(std::string_view name);

}  // namespace rilvano::comm
