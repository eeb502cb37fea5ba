// SPDX-License-Identifier: MIT
// Where a sparse file's data lies. The bytes of a hole are zeros, known
// without reading them, so a hole costs neither reads nor page cache.
#pragma once

#include <cstdint>

namespace korrin {

// A stretch of a file: data, or a hole, up to `end`.
struct Region {
  int64_t end;
  bool hole;
};

// Holes shorter than this are read as data.
constexpr int64_t kShortestHolePassedBy = int64_t{64} << 10;

// The region that `at` lies in, ended at `limit` at most: found with
// SEEK_DATA and SEEK_HOLE, at most three calls. A hole that runs to the end
// of the file ends there, as the file is now. A short hole, and all of a
// file whose file system tells neither, are data, read as usual. `end` is
// `at` only when the file ends there. `limit` is what one read would take.
Region RegionAt(int fd, int64_t at, int64_t limit);

}  // namespace korrin
