#include "platform/heap_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

TEST(HeapBufferTest, ZeroedAlignedBlocksOfTheAskedSize) {
  struct Case {
    size_t size, alignment;
  };
  for (const Case& c : {Case{1, 1}, Case{100, 1}, Case{1068, 8192}, Case{512, platform::kPageSize},
                        Case{65536, 8192}}) {
    SCOPED_TRACE(testing::Message() << c.size << " aligned to " << c.alignment);
    platform::HeapBuffer buffer(c.size, c.alignment);
    ASSERT_TRUE(buffer.valid());
    EXPECT_EQ(buffer.size(), c.size);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.data()) % c.alignment, 0u);
    EXPECT_TRUE(
        std::all_of(buffer.data(), buffer.data() + c.size, [](uint8_t b) { return b == 0; }));
    // The whole block is writable: sanitizers catch a short allocation.
    std::fill(buffer.data(), buffer.data() + c.size, uint8_t{0xA5});
  }
}

TEST(HeapBufferTest, RefusedOrEmptyBlocksAreInvalidAndHoldNothing) {
  platform::FailAllocationAfter(0);
  platform::HeapBuffer refused(4096, platform::kPageSize);
  platform::FailAllocationAfter(-1);
  platform::HeapBuffer empty(0);
  platform::HeapBuffer huge(SIZE_MAX, 8192);
  for (const platform::HeapBuffer* buffer : {&refused, &empty, &huge}) {
    EXPECT_FALSE(buffer->valid());
    EXPECT_EQ(buffer->data(), nullptr);
    EXPECT_EQ(buffer->size(), 0u);
  }
}

}  // namespace
