// A full pane's text lives in buffers of megabytes that Qt replaces as the
// pane trims. glibc's adaptive threshold moves such buffers from their own
// mappings into the heap, where a freed one keeps its pages: on a busy line
// resident memory climbed by each replaced buffer, 35 MB in five minutes.
// Mapped, a buffer's memory goes back when it is freed. (Under
// AddressSanitizer malloc is the sanitizer's, which maps large blocks itself
// and ignores the setting.)
#pragma once

#include <cstdlib>  // tells __GLIBC__
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace rilvano {

inline void KeepLargeBuffersMapped() {
#if defined(__GLIBC__)
  static const bool done = mallopt(M_MMAP_THRESHOLD, 256 * 1024) != 0;
  (void)done;
#endif
}

}  // namespace rilvano
