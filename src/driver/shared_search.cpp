// SPDX-License-Identifier: MIT
#include "driver/shared_search.h"

namespace korrin {

bool SharedSearch::SegmentsLeft() const {
  return next_segment_ < segments_ && next_segment_ < answer_segment_;
}

int64_t SharedSearch::Take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return SegmentsLeft() ? next_segment_++ : -1;
}

void SharedSearch::Note(int64_t segment, int64_t answer) {
  if (answer == kNoMarker) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (segment < answer_segment_) {
    answer_segment_ = segment;
    answer_ = answer;
  }
}

bool SharedSearch::SearchNext(char* buffer) {
  const int64_t segment = Take();
  if (segment < 0) return false;
  Note(segment, SearchSegment(search_, segment, buffer));
  return true;
}

bool SharedSearch::Join(int most_helpers) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (helpers_ >= most_helpers || !SegmentsLeft()) return false;
  ++helpers_;
  return true;
}

void SharedSearch::Leave() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (--helpers_ == 0) helpers_left_.notify_all();
}

int64_t SharedSearch::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  helpers_left_.wait(lock, [this] { return helpers_ == 0; });
  return answer_;
}

}  // namespace korrin
