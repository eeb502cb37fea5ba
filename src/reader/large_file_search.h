// SPDX-License-Identifier: MIT
// Finding the next marker far ahead in a large file. The rest of the file is
// cut into segments that the scanning thread searches in order, and that
// other threads of the run may search at the same time; the lowest segment
// with an answer decides.
#pragma once

#include <cstdint>
#include <mutex>

namespace korrin {

constexpr int64_t kNoMarker = -1;  // the rest of the file holds none
constexpr int64_t kUnsure = -2;    // not searched so, or a read came short or failed

// How a scan turns to the segment search: once it has read `quiet_length`
// bytes without a marker, so that the search costs at most about what the
// scan already read, however dense the markers.
struct LargeFileSettings {
  int64_t quiet_length = int64_t{4} << 20;
  int64_t segment_length = int64_t{2} << 20;
};

class SegmentSearch;

// The threads that may help with a segment search while its owner runs it.
// Offer makes the search visible to them; Withdraw hides it again and
// returns once no other thread is inside it, so that the owner may end it.
// Mutex guards what the search's threads share.
class SearchHelpers {
 public:
  virtual std::mutex& Mutex() = 0;
  virtual void Offer(SegmentSearch& search) = 0;
  virtual void Withdraw(SegmentSearch& search) = 0;

 protected:
  ~SearchHelpers() = default;
};

// One search for the first marker wholly in [from, size) of an open file.
// Any thread may take a segment; each takes the lowest one no thread has
// taken yet, and the lowest segment that meets a marker or a failure
// decides, whichever thread finishes first.
class SegmentSearch {
 public:
  // `guard`, when other threads may help, guards the segments taken and the
  // answer; null when this thread searches alone.
  SegmentSearch(int fd, int64_t from, int64_t size, int64_t segment_length, std::mutex* guard);
  SegmentSearch(const SegmentSearch&) = delete;
  SegmentSearch& operator=(const SegmentSearch&) = delete;

  // Takes and searches the next segment through `buffer` (kScanBufferSize
  // bytes). False, with nothing done, once no segment is left that could
  // matter.
  bool SearchNextSegment(char* buffer);

  // Once every thread is out of it: the position of the first marker, or
  // kNoMarker, or kUnsure when a read before any marker failed or met the
  // end of the file early.
  int64_t Result();

  // The two steps of SearchNextSegment, for the tests that order them: the
  // segment taken (-1 when none is left that could matter), then searched.
  int64_t TakeSegment();
  void SearchSegment(int64_t segment, char* buffer);

 private:
  enum class Outcome { Nothing, Marker, Unsure, Abandoned };
  Outcome ReadSegment(int64_t segment, char* buffer, int64_t* marker);
  std::unique_lock<std::mutex> Lock();  // guard_ held, if there is one
  bool Decided(int64_t segment);        // a lower segment already holds the answer

  const int fd_;
  const int64_t from_;
  const int64_t size_;
  const int64_t segment_length_;
  const int64_t segments_;
  std::mutex* const guard_;             // guards the three fields below
  int64_t next_segment_ = 0;            // the lowest segment not taken yet
  int64_t answer_segment_ = INT64_MAX;  // the lowest segment that met a marker or a failure
  int64_t answer_ = kNoMarker;
};

// The first marker wholly in [from, size), searched by this thread through
// `buffer` and by `helpers` (none when null).
int64_t SearchLargeFile(int fd, int64_t from, int64_t size, char* buffer,
                        const LargeFileSettings& settings, SearchHelpers* helpers);

}  // namespace korrin
