// SPDX-License-Identifier: MIT
// Finding the next marker far ahead in a large file. The rest of the file is
// cut into segments, each searched on its own, in any order; the lowest
// segment with an answer decides.
#pragma once

#include <cstdint>

namespace korrin {

constexpr int64_t kNoMarker = -1;  // the rest of the file holds none
constexpr int64_t kUnsure = -2;    // a read came short or failed: the plain scan decides

// When a scan turns to the far search: once it has read `quiet_length` bytes
// without a marker, so that the search costs at most about what the scan
// already read, however dense the markers.
struct LargeFileSettings {
  int64_t quiet_length = int64_t{4} << 20;
  int64_t segment_length = int64_t{2} << 20;
};

// A search for the first marker wholly in [from, size) of an open file.
struct FarSearch {
  int fd = -1;
  int64_t from = 0;
  int64_t size = 0;            // the size seen at open
  int64_t segment_length = 7;  // at least the marker's length
  bool sparse = false;         // its holes are passed over unread

  int64_t Segments() const;
};

// The answer of one segment: the first marker that starts in it, read whole
// (the segment's bytes and the next six), or kNoMarker, or kUnsure when a
// read failed or met the end of the file early. Reads through `buffer`, of
// kScanBufferSize bytes.
int64_t SearchSegment(const FarSearch& search, int64_t segment, char* buffer);

// The first marker of `search`, its segments searched one after the other:
// the answer of the first segment that has one.
int64_t SearchAlone(const FarSearch& search, char* buffer);

}  // namespace korrin
