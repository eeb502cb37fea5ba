// SPDX-License-Identifier: MIT
#include "driver/memory.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "reader/file_bytes.h"

namespace korrin {
namespace {

// malloc puts large blocks 16 bytes past a page, where the kernel's copy
// into them is several times slower: buffers come page-aligned.
TEST(Memory, BuffersThatReadsFillArePageAligned) {
  for (int k = 0; k < 4; ++k) {
    const MallocPtr<ScanBuffer> buffer = NewOrNull<ScanBuffer>();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer->bytes) % kPageAlignment, 0u);
  }
}

}  // namespace
}  // namespace korrin
