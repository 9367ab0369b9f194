// What the Win32 backend offers beyond comm.h: the same port, opened for
// overlapped I/O, for a program that waits on the port and on other events
// at once (the slave simulator).
#pragma once

#include <string>

#include "serial/comm.h"

namespace rilvano::comm {

// Opens `port` as Platform::CreateFile does ("COM12", "com3:", any other
// device name), with FILE_FLAG_OVERLAPPED; kInvalidHandle and the thread's
// last error set when it cannot.
Handle CreateOverlapped(const std::string& port);

}  // namespace rilvano::comm
