// SPDX-License-Identifier: MIT
// The reference the scanner is held to: BlockSearch itself, over plain
// reads (each request one pread of exactly its bytes at its place) and with
// no far search. The scan as korrin runs it, through its buffer and far
// searches, must find what these find, in any file; the differential test
// and the fuzz target compare the two. The scan rules themselves are shown
// by the tables of block_search_test.cpp.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/shared_search.h"
#include "reader/block_search.h"
#include "reader/file_bytes.h"

namespace korrin_test {

// What a scan found: the anchor in the window, or -1, and then no window.
struct Found {
  int anchor;
  std::string window;
};

// Each request one pread of exactly its bytes at its place.
class PlainReads final : public korrin::ScanBytes {
 public:
  PlainReads(int fd, char* buffer) : fd_(fd), buffer_(buffer) {}
  int Get(int64_t from, int count, const char** bytes) override {
    ssize_t got;
    do {
      got = pread(fd_, buffer_, static_cast<size_t>(count), from);
    } while (got < 0 && errno == EINTR);
    *bytes = buffer_;
    return static_cast<int>(std::max<ssize_t>(0, got));
  }

 private:
  int fd_;
  char* buffer_;
};

// A far search whose segments are all taken, then searched from the last to
// the first: each higher segment's answer comes before the lower ones.
inline int64_t SearchFromTheLastSegment(const korrin::FarSearch& far, char* buffer) {
  korrin::SharedSearch search(far);
  std::vector<int64_t> taken;
  for (int64_t segment; (segment = search.Take()) >= 0;) taken.push_back(segment);
  for (auto segment = taken.rbegin(); segment != taken.rend(); ++segment) {
    search.Note(*segment, korrin::SearchSegment(far, *segment, buffer));
  }
  return search.Finish();
}

// Runs `search` to its end, each far search through the same buffer as the
// file's bytes, as korrin runs it.
inline Found RunToTheEnd(korrin::BlockSearch& search, korrin::FileBytes* bytes, char* buffer) {
  korrin::ScanStep step;
  while ((step = search.Continue()) == korrin::ScanStep::FarSearch) {
    const int64_t marker = SearchFromTheLastSegment(search.far_search(), buffer);
    bytes->Forget();
    search.Resume(marker);
  }
  if (step == korrin::ScanStep::NotFound) return {-1, ""};
  const korrin::Window& window = search.window();
  return {search.anchor(), std::string(window.data, static_cast<size_t>(window.length))};
}

// The scan of the open file `fd`, taken to be `size` bytes long, as korrin
// runs it, far searches made as `settings` say.
inline Found ScanAsKorrin(int fd, int64_t size, const char* name,
                          const korrin::LargeFileSettings& settings, korrin::ScanBuffer& buffer) {
  struct stat st;
  const bool sparse = fstat(fd, &st) == 0 && st.st_blocks * 512 < st.st_size;
  korrin::FileBytes bytes(fd, size, sparse, buffer);
  korrin::BlockSearch search(bytes, name,
                             {.fd = fd, .size = size, .sparse = sparse, .settings = settings});
  return RunToTheEnd(search, &bytes, buffer.bytes);
}

// The same search through plain reads, with no far search.
inline Found ScanPlainly(int fd, const char* name, korrin::ScanBuffer& buffer) {
  PlainReads bytes(fd, buffer.bytes);
  korrin::BlockSearch search(bytes, name, {.fd = -1, .size = 0, .sparse = false, .settings = {}});
  const korrin::ScanStep step = search.Continue();
  if (step != korrin::ScanStep::Found) return {-1, ""};
  const korrin::Window& window = search.window();
  return {search.anchor(), std::string(window.data, static_cast<size_t>(window.length))};
}

// Far searches from the first chunk on, in page-long segments: every rule
// of the far search meets small files.
inline korrin::LargeFileSettings EagerSearch() {
  return {.quiet_length = 0, .segment_length = 4096};
}

}  // namespace korrin_test
