// SPDX-License-Identifier: MIT
// A large file's far search shared by the threads of the run: each takes
// the lowest segment no thread has taken yet, and the lowest segment with an
// answer decides, whichever thread finishes first. The search keeps its own
// lock; its owner waits there for its helpers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "reader/large_file_search.h"

namespace korrin {

class SharedSearch {
 public:
  explicit SharedSearch(const FarSearch& search) : search_(search), segments_(search.Segments()) {}
  SharedSearch(const SharedSearch&) = delete;
  SharedSearch& operator=(const SharedSearch&) = delete;

  // Takes and searches the next segment through `buffer`, of
  // kScanBufferSize bytes. False, with nothing done, once no segment is left
  // that could matter.
  bool SearchNext(char* buffer);

  // A helper joins before its first segment, unless no segment is left or
  // `most_helpers` are in already, and leaves after its last.
  bool Join(int most_helpers);
  void Leave();
  // The owner's last step, once no helper can join any more: waits until
  // the helpers have left, then gives the answer.
  int64_t Finish();

  // The two halves of SearchNext, for the tests that order the answers: the
  // segment taken (-1 when none is left that could matter), and its answer.
  int64_t Take();
  void Note(int64_t segment, int64_t answer);

 private:
  bool SegmentsLeft() const;  // mutex_ held

  const FarSearch search_;
  const int64_t segments_;
  std::mutex mutex_;  // guards the fields below
  std::condition_variable helpers_left_;
  int64_t next_segment_ = 0;            // the lowest segment not taken yet
  int64_t answer_segment_ = INT64_MAX;  // the lowest segment that met a marker or a failure
  int64_t answer_ = kNoMarker;
  int helpers_ = 0;
};

}  // namespace korrin
