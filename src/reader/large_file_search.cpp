// SPDX-License-Identifier: MIT
#include "reader/large_file_search.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "reader/file_bytes.h"
#include "reader/marker_search.h"

namespace korrin {

SegmentSearch::SegmentSearch(int fd, int64_t from, int64_t size, int64_t segment_length)
    : fd_(fd),
      from_(from),
      size_(size),
      segment_length_(std::max<int64_t>(segment_length, kMarkerLength)),
      segments_(size > from ? (size - from - 1) / segment_length_ + 1 : 0) {}

bool SegmentSearch::Decided(int64_t segment) {
  const std::lock_guard<std::mutex> lock(mutex_);
  return answer_segment_ < segment;
}

// The markers that start in the segment, read whole: its bytes and the next
// six, read through the buffer, whose last six bytes are kept for the next
// read so that a marker cut by a read's end is seen whole.
SegmentSearch::Outcome SegmentSearch::ReadSegment(int64_t segment, char* buffer, int64_t* marker) {
  const int64_t start = from_ + segment * segment_length_;
  const int64_t end = std::min(start + segment_length_ + kMarkerLength - 1, size_);
  int64_t held_from = start;  // file position of buffer[0]
  int64_t held = 0;
  while (held_from + held < end) {
    if (Decided(segment)) return Outcome::Abandoned;
    const int64_t want = std::min<int64_t>(kScanBufferSize - held, end - held_from - held);
    const ssize_t got = pread(fd_, buffer + held, static_cast<size_t>(want), held_from + held);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Outcome::Unsure;  // an error, or the file is shorter than it was
    held += got;
    const int at = FindMarker(buffer, static_cast<int>(held));
    if (at >= 0) {
      *marker = held_from + at;
      return Outcome::Marker;
    }
    const int64_t keep = std::min<int64_t>(held, kMarkerLength - 1);
    std::memmove(buffer, buffer + held - keep, static_cast<size_t>(keep));
    held_from += held - keep;
    held = keep;
  }
  return Outcome::Nothing;
}

int64_t SegmentSearch::TakeSegment() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (next_segment_ >= segments_ || next_segment_ > answer_segment_) return -1;
  return next_segment_++;
}

void SegmentSearch::SearchSegment(int64_t segment, char* buffer) {
  int64_t marker = kNoMarker;
  const Outcome outcome = ReadSegment(segment, buffer, &marker);
  if (outcome != Outcome::Marker && outcome != Outcome::Unsure) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (segment < answer_segment_) {
    answer_segment_ = segment;
    answer_ = outcome == Outcome::Marker ? marker : kUnsure;
  }
}

bool SegmentSearch::SearchNextSegment(char* buffer) {
  const int64_t segment = TakeSegment();
  if (segment < 0) return false;
  SearchSegment(segment, buffer);
  return true;
}

int64_t SegmentSearch::Result() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return answer_;
}

int64_t SearchLargeFile(int fd, int64_t from, int64_t size, char* buffer,
                        const LargeFileSettings& settings, SearchHelpers* helpers) {
  SegmentSearch search(fd, from, size, settings.segment_length);
  if (helpers != nullptr) helpers->Offer(search);
  while (search.SearchNextSegment(buffer)) {
  }
  if (helpers != nullptr) helpers->Withdraw(search);
  return search.Result();
}

}  // namespace korrin
