// SPDX-License-Identifier: MIT
// The search for the next marker in the rest of a large file: in segments,
// mapped rather than copied where it may, and shared with a helper thread
// when a processor is free.
#pragma once

#include <cstdint>

namespace korrin {

constexpr int64_t kNoMarker = -1;  // the rest of the file holds none
constexpr int64_t kUnsure = -2;    // not searched so, or a read came short or failed

// Below this many bytes to go, a file is read in the usual way.
constexpr int64_t kLeastLargeLength = int64_t{4} << 20;
// Segments start at multiples of their length, so that a mapped segment
// takes the page cache's large folios whole.
constexpr int64_t kSegmentLength = int64_t{2} << 20;

// How many helper threads all searches together may run at once (none by
// default), the least length searched so, and the segment length. The
// driver sets them once; tests set small lengths.
void AllowLargeFileSearch(int helpers, int64_t least_length = kLeastLargeLength,
                          int64_t segment_length = kSegmentLength);

// Whether [from, size) is long enough to be searched so.
bool IsLargeRest(int64_t from, int64_t size);

// The position of the first marker that lies wholly in [from, size) of a
// large rest, or kNoMarker; `buffer` (kScanBufferSize bytes) serves the
// caller's reads. kUnsure when a read failed or met the end of the file
// before `size`: the caller then reads on as usual, and meets what the
// search met.
int64_t SearchLargeFile(int fd, int64_t from, int64_t size, char* buffer);

}  // namespace korrin
