// SPDX-License-Identifier: MIT
// The search for the constant block in a program file: the marker "WORKING",
// then, in the bytes that follow it, the program's name or a date's slashes.
#pragma once

#include <cstdint>

#include "reader/file_bytes.h"
#include "reader/large_file_search.h"
#include "reader/pattern_search.h"
#include "reader/window.h"

namespace korrin {

constexpr int kChunkSize = 10000;  // bytes searched for the marker at a time
constexpr int kMinChunk = 200;     // a shorter chunk ends the scan: not found
constexpr int kWindowSize = 200;   // bytes after a marker searched for the name

// Where the scan stands after Continue.
enum class ScanStep {
  Found,     // anchor() and window() hold the block
  NotFound,  // the file holds no block
  FarSearch  // far_search() wants the next marker far ahead, for Resume
};

// How a scan may turn to a far search: the file, the size seen at open, and
// the settings. An fd of -1 never does.
struct FarSearchPlan {
  int fd = -1;
  int64_t size = 0;
  bool sparse = false;  // its holes are passed over unread
  LargeFileSettings settings;
};

// The scan of one file from its start, in steps. Continue scans until it
// finds the block or the file's end, or until it has gone a long stretch
// without a marker. Then the caller finds the next marker far ahead
// (SearchAlone, or its segments shared out through SearchSegment) and hands
// it to Resume. `name` is the upper-cased external name.
class BlockSearch {
 public:
  BlockSearch(ScanBytes& bytes, const char* name, const FarSearchPlan& plan);

  ScanStep Continue();
  // After FarSearch: the search to run; then its answer.
  const FarSearch& far_search() const { return far_search_; }
  void Resume(int64_t next_marker);
  // After Found: the position in the window from which the decoder reads
  // the block.
  int anchor() const { return anchor_; }
  const Window& window() const { return window_; }

 private:
  // The first place p >= from at which the pattern lies wholly in the
  // `count` bytes from file position `start` (at most `from`) held at
  // `bytes`; -1 when there is none there. Asked for from positions that
  // mostly move forward: the windows of successive markers overlap, and so
  // do the chunks, so each place is compared once at most while they do.
  class ForwardSearch {
   public:
    explicit ForwardSearch(const Pattern& pattern) : pattern_(pattern) {}
    int64_t First(int64_t from, const char* bytes, int64_t start, int count);

   private:
    const Pattern pattern_;
    int64_t from_ = 0;        // the last `from`
    int64_t checked_to_ = 0;  // the places before it, from the last `from` on, were compared
    int64_t found_ = -1;      // the first of them that holds the pattern, or -1
  };

  bool WantsFarSearch() const;
  int64_t ChunkAfterPassedMarkers(int64_t start, const char* held, int held_length,
                                  int64_t in_reach);
  // One chunk and, if it holds a marker, its window. True when the scan
  // ended: anchor_ is then the block's, or -1.
  bool Pass();

  ScanBytes& bytes_;
  const Pattern name_;
  ForwardSearch names_;
  ForwardSearch slashes_;
  ForwardSearch markers_;
  const int64_t quiet_length_;
  FarSearch far_search_;
  int64_t chunk_start_ = 0;
  int64_t quiet_from_ = 0;  // no marker met from here to chunk_start_
  bool may_search_far_;     // until a far search was unsure
  bool resumed_ = false;    // a far search ran for the coming pass
  bool no_marker_left_ = false;
  int anchor_ = -1;
  Window window_;
};

}  // namespace korrin
