// SPDX-License-Identifier: MIT
// How the buffers that the kernel copies file bytes into are aligned.
#pragma once

namespace korrin {

// On common x86-64 processors a read into a destination that is not 64-byte
// aligned runs several times slower: the kernel's copy out of the page cache
// leaves its fast path (and malloc puts large blocks 16 bytes past a page).
// So every buffer that a read fills starts on a page, and reads land at
// multiples of kReadAlignment in it. Some processors copy the other way
// round, an aligned destination a few percent slower (bench/copy_alignment.cpp
// measures the machine it runs on); that is the smaller loss to risk.
constexpr int kPageAlignment = 4096;
constexpr int kReadAlignment = 64;

}  // namespace korrin
