// SPDX-License-Identifier: MIT
#include "reader/large_file_search.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/alignment.h"
#include "reader/file_bytes.h"
#include "reader/holes.h"
#include "reader/pattern_search.h"

namespace korrin {

int64_t FarSearch::Segments() const {
  return size > from ? (size - from - 1) / segment_length + 1 : 0;
}

namespace {

// The first marker that starts in [start, end), read whole up to `read_end`
// (six bytes further, or the file's end); or kNoMarker, or kUnsure. Reads
// land at kReadAlignment in the buffer; the last six bytes of the read
// before are kept just ahead of them, so that a marker cut by a read's end
// is seen whole.
int64_t SearchData(int fd, int64_t start, int64_t end, char* buffer) {
  char* const read_to = buffer + kReadAlignment;
  int64_t read_from = start;  // file position of read_to[0]
  int64_t kept = 0;           // bytes before read_to from the read before
  while (read_from < end) {
    const int64_t want = std::min<int64_t>(kScanBufferSize - kReadAlignment, end - read_from);
    const ssize_t got = pread(fd, read_to, static_cast<size_t>(want), read_from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return kUnsure;  // an error, or the file is shorter than it was
    const char* const held = read_to - kept;
    const int64_t held_length = kept + got;
    const int at = FindMarker(held, static_cast<int>(held_length));
    if (at >= 0) return read_from - kept + at;
    kept = std::min<int64_t>(held_length, kMarkerLength - 1);
    std::memmove(read_to - kept, held + held_length - kept, static_cast<size_t>(kept));
    read_from += got;
  }
  return kNoMarker;
}

}  // namespace

// A hole holds only zeros, and the marker none: only the segment's data is
// read. A marker lies wholly in data.
int64_t SearchSegment(const FarSearch& search, int64_t segment, char* buffer) {
  const int64_t start = search.from + segment * search.segment_length;
  const int64_t end = std::min(start + search.segment_length + kMarkerLength - 1, search.size);
  for (int64_t from = start; from < end;) {
    const int64_t read_end = std::min<int64_t>(end, from + kScanBufferSize - kReadAlignment);
    const Region region = search.sparse ? RegionAt(search.fd, from, read_end) : Region{end, false};
    if (region.end == from) return kUnsure;  // the file ends before its size seen at open
    if (!region.hole) {
      const int64_t answer = SearchData(search.fd, from, region.end, buffer);
      if (answer != kNoMarker) return answer;
    }
    from = region.end;
  }
  return kNoMarker;
}

int64_t SearchAlone(const FarSearch& search, char* buffer) {
  for (int64_t segment = 0; segment < search.Segments(); ++segment) {
    const int64_t answer = SearchSegment(search, segment, buffer);
    if (answer != kNoMarker) return answer;
  }
  return kNoMarker;
}

}  // namespace korrin
