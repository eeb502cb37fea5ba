// SPDX-License-Identifier: MIT
// The scan rules as stated, over a file's bytes in memory, deliberately
// literal: chunks of 10000 bytes read at the chunk's start, a step back of
// 7, windows of 200 bytes read at the marker's end, byte-by-byte compares.
// The differential test and the fuzz target hold the scanner to it.
#pragma once

#include <algorithm>
#include <string>

namespace korrin_model {

// What the scan found: the anchor in the window, or -1, and the window.
struct Found {
  int anchor = -1;
  std::string window;
};

// The first index at which `pattern` lies wholly in `data`, or -1; an empty
// pattern in empty data is not found.
inline int Search(const std::string& data, const std::string& pattern) {
  for (size_t j = 0; j < data.size() && j + pattern.size() <= data.size(); ++j) {
    if (std::equal(pattern.begin(), pattern.end(), data.begin() + static_cast<long>(j))) {
      return static_cast<int>(j);
    }
  }
  return -1;
}

// The bytes a read of up to `count` at `from` returns.
inline std::string Read(const std::string& file, long from, long count) {
  if (from >= static_cast<long>(file.size())) return {};
  return file.substr(static_cast<size_t>(from), static_cast<size_t>(count));
}

inline Found Scan(const std::string& file, const std::string& name) {
  long chunk_start = 0;
  for (;;) {
    const std::string chunk = Read(file, chunk_start, 10000);
    if (chunk.size() < 200) return {};
    const int marker_at = Search(chunk, "WORKING");
    if (marker_at < 0) {
      chunk_start += static_cast<long>(chunk.size()) - 7;
      continue;
    }
    const long marker_end = chunk_start + marker_at + 7;
    const std::string window = Read(file, marker_end, 200);
    const int name_at = Search(window, name);
    if (name_at >= 0) return {name_at, window};
    const int slash_at = Search(window, "/");
    const auto length = static_cast<int>(window.size());
    if (slash_at < 0) {
      chunk_start = marker_end;  // a later marker may start inside the window
    } else if (slash_at + 3 < length && window[static_cast<size_t>(slash_at) + 3] == '/') {
      return {slash_at + 28, window};
    } else {
      chunk_start = marker_end + length;  // only the first '/' is tried
    }
  }
}

}  // namespace korrin_model
