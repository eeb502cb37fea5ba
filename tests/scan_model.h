// SPDX-License-Identifier: MIT
// The reference the scanner is held to: FindBlock itself, its file read by
// plain reads (each request one pread of exactly its bytes at its place, no
// search ahead). The buffered, segmented reading must find what these find,
// in any file; the differential test and the fuzz target compare the two.
// The scan rules themselves are shown by the tables of block_search_test.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "reader/block_search.h"
#include "reader/file_bytes.h"

namespace korrin_test {

// What a scan found: the anchor in the window, or -1, and then no window.
struct Found {
  int anchor;
  std::string window;
};

// FindBlock over the open file `fd`, taken to be `size` bytes long.
inline Found FindBlockInFile(int fd, int64_t size, const char* name,
                             const korrin::ScanContext& context) {
  korrin::FileBytes file(fd, size, context);
  korrin::Window window;
  const int anchor = korrin::FindBlock(file, name, &window);
  return {anchor, anchor < 0 ? "" : std::string(window.data, static_cast<size_t>(window.length))};
}

// The same search through plain reads.
inline Found ScanPlainly(int fd, int64_t size, const char* name, korrin::ScanBuffer* buffer) {
  return FindBlockInFile(fd, size, name, {buffer, {}, nullptr, true});
}

}  // namespace korrin_test
