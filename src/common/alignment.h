// SPDX-License-Identifier: MIT
// How the buffers that the kernel copies file bytes into are aligned.
#pragma once

namespace korrin {

// On common x86-64 processors a read into a destination that is not 64-byte
// aligned runs several times slower: the kernel's copy out of the page cache
// leaves its fast path (and malloc puts large blocks 16 bytes past a page).
// So every buffer that a read fills starts on a page, and reads land at
// multiples of kReadAlignment in it.
constexpr int kPageAlignment = 4096;
constexpr int kReadAlignment = 64;

}  // namespace korrin
