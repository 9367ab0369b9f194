// What the POSIX backend offers beyond comm.h: a test seam for the wait on the
// transmit queue, which a pseudo-terminal cannot make hang the way a stuck
// adapter does.
#pragma once

#include <chrono>

namespace rilvano::comm {

// Bytes still waiting to be sent on terminal `fd`; -1 when it cannot be told.
using TransmitQueueProbe = int (*)(int fd);

// Replaces the probe and the longest wait for the queue to empty; nullptr
// restores the driver's own probe and bound.
void SetTransmitQueueProbe(TransmitQueueProbe probe, std::chrono::milliseconds limit);

}  // namespace rilvano::comm
