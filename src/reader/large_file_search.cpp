// SPDX-License-Identifier: MIT
#include "reader/large_file_search.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "reader/file_bytes.h"
#include "reader/pattern_search.h"

namespace korrin {

SegmentSearch::SegmentSearch(int fd, int64_t from, int64_t size, int64_t segment_length,
                             std::mutex* guard)
    : fd_(fd),
      from_(from),
      size_(size),
      segment_length_(std::max<int64_t>(segment_length, kMarkerLength)),
      segments_(size > from ? (size - from - 1) / segment_length_ + 1 : 0),
      guard_(guard) {}

std::unique_lock<std::mutex> SegmentSearch::Lock() {
  return guard_ == nullptr ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(*guard_);
}

bool SegmentSearch::Decided(int64_t segment) {
  const auto lock = Lock();
  return answer_segment_ < segment;
}

// The markers that start in the segment, read whole: its bytes and the next
// six. Reads land at kReadAlignment in the buffer; the last six bytes of the
// one before are kept just ahead of them, so that a marker cut by a read's
// end is seen whole.
SegmentSearch::Outcome SegmentSearch::ReadSegment(int64_t segment, char* buffer, int64_t* marker) {
  const int64_t start = from_ + segment * segment_length_;
  const int64_t end = std::min(start + segment_length_ + kMarkerLength - 1, size_);
  char* const read_to = buffer + kReadAlignment;
  int64_t read_from = start;  // file position of read_to[0]
  int64_t kept = 0;           // bytes before read_to from the read before
  while (read_from < end) {
    if (Decided(segment)) return Outcome::Abandoned;
    const int64_t want = std::min<int64_t>(kScanBufferSize - kReadAlignment, end - read_from);
    const ssize_t got = pread(fd_, read_to, static_cast<size_t>(want), read_from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Outcome::Unsure;  // an error, or the file is shorter than it was
    const char* const held = read_to - kept;
    const int64_t held_length = kept + got;
    const int at = FindMarker(held, static_cast<int>(held_length));
    if (at >= 0) {
      *marker = read_from - kept + at;
      return Outcome::Marker;
    }
    kept = std::min<int64_t>(held_length, kMarkerLength - 1);
    std::memmove(read_to - kept, held + held_length - kept, static_cast<size_t>(kept));
    read_from += got;
  }
  return Outcome::Nothing;
}

int64_t SegmentSearch::TakeSegment() {
  const auto lock = Lock();
  if (next_segment_ >= segments_ || next_segment_ > answer_segment_) return -1;
  return next_segment_++;
}

void SegmentSearch::SearchSegment(int64_t segment, char* buffer) {
  int64_t marker = kNoMarker;
  const Outcome outcome = ReadSegment(segment, buffer, &marker);
  if (outcome != Outcome::Marker && outcome != Outcome::Unsure) return;
  const auto lock = Lock();
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
  const auto lock = Lock();
  return answer_;
}

int64_t SearchLargeFile(int fd, int64_t from, int64_t size, char* buffer,
                        const LargeFileSettings& settings, SearchHelpers* helpers) {
  SegmentSearch search(fd, from, size, settings.segment_length,
                       helpers == nullptr ? nullptr : &helpers->Mutex());
  if (helpers != nullptr) helpers->Offer(search);
  while (search.SearchNextSegment(buffer)) {
  }
  if (helpers != nullptr) helpers->Withdraw(search);
  return search.Result();
}

}  // namespace korrin
