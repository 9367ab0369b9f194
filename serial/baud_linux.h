// Linux rates outside the Bnnn table, through termios2 and BOTHER. Kept in a
// file of its own: the kernel's termios2 headers clash with <termios.h>.
#pragma once

#include <cstdint>

namespace rilvano::comm {

// Sets input and output rate of terminal `fd` to `baud`; false with errno set.
bool SetArbitraryBaud(int fd, std::uint32_t baud);

// The output rate of terminal `fd` in bits per second, 0 when unreadable.
std::uint32_t ArbitraryBaud(int fd);

}  // namespace rilvano::comm
