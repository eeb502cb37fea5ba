// Fast search for the marker in a chunk.
#pragma once

namespace korrin {

// The same result as strnsrch(count, data, "WORKING"): the index of the first
// whole "WORKING" among the first `count` bytes of `data`, or -1.
int FindMarker(const char* data, int count);

}  // namespace korrin
