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

// The region that `at` lies in, ended at `limit` at most: found with
// SEEK_DATA and SEEK_HOLE. A hole that runs to the end of the file ends
// there, as the file is now. Where the file system tells neither, all of the
// file is data, read as usual. `end` is `at` only when the file ends there.
Region RegionAt(int fd, int64_t at, int64_t limit);

}  // namespace korrin
