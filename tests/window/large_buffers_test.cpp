// The Qt window's text buffers stay in their own mappings
// (window/qt/large_buffers.h), watched in glibc's own malloc: this test is
// built without the sanitizers, whose allocator would stand in its place.
#include "window/qt/large_buffers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace rilvano {
namespace {

#if defined(__GLIBC__)

// Blocks that now have a mapping of their own.
std::size_t MappedBlocks() { return mallinfo2().hblks; }

// A malloc the compiler cannot pair off with its free and leave out.
void* (*volatile allocate)(std::size_t) = std::malloc;

TEST(LargeBuffers, StayMappedAfterALargerOneWasFreed) {
  KeepLargeBuffersMapped();
  // Left to itself, glibc raises its threshold to the largest mapped block
  // freed: the next buffer, a little smaller, would come from the heap.
  std::free(allocate(std::size_t{16} << 20));
  const std::size_t before = MappedBlocks();
  void* buffer = allocate(std::size_t{8} << 20);
  EXPECT_EQ(MappedBlocks(), before + 1) << "an 8 MB buffer came from the heap";
  std::free(buffer);
  EXPECT_EQ(MappedBlocks(), before);
  // Below the threshold, even above glibc's default one (128 Ki), blocks
  // still come from the heap: a threshold was set, not only held still.
  std::vector<void*> smaller;
  for (int i = 0; i < 16; ++i) smaller.push_back(allocate(std::size_t{192} << 10));
  EXPECT_EQ(MappedBlocks(), before) << "blocks of 192 Ki were mapped";
  for (void* block : smaller) std::free(block);
}

#endif

}  // namespace
}  // namespace rilvano
