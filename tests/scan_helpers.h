// SPDX-License-Identifier: MIT
// The block search run over a file on disk, alone or with a stand-in for the
// run's workers in a large file's search.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>

#include "reader/file_bytes.h"
#include "reader/large_file_search.h"
#include "scan_model.h"

namespace korrin_test {

// Searches the first `segments` segments of every search offered to it,
// through a buffer of its own, before the owner starts: the owner's and a
// helper's results then meet the same way on every run.
class InlineHelpers final : public korrin::SearchHelpers {
 public:
  explicit InlineHelpers(int segments) : segments_(segments) {}
  void Offer(korrin::SegmentSearch& search) override {
    ++offers;
    for (int k = 0; k < segments_; ++k) search.SearchNextSegment(buffer_->bytes);
  }
  std::mutex& Mutex() override { return mutex_; }
  void Withdraw(korrin::SegmentSearch&) override { ++withdrawals; }
  int offers = 0;
  int withdrawals = 0;

 private:
  std::mutex mutex_;
  int segments_;
  std::unique_ptr<korrin::ScanBuffer> buffer_ = std::make_unique<korrin::ScanBuffer>();
};

// FindBlock over the file at `path`, taken to be `size` bytes long.
inline Found FindBlockIn(const std::string& path, int64_t size, const char* name,
                         const korrin::ScanContext& context) {
  const int fd = open(path.c_str(), O_RDONLY);
  Found found = FindBlockInFile(fd, size, name, context);
  close(fd);
  return found;
}

// Page-long segments searched from the first chunk on, a helper taking the
// first: every rule of the segment search meets small files.
inline korrin::LargeFileSettings EagerSearch() {
  return {.quiet_length = 0, .segment_length = 4096};
}

}  // namespace korrin_test
