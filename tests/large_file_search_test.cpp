// SPDX-License-Identifier: MIT
// The far search of a large file's rest in segments: markers on every edge
// the segments and reads make, the order in which segments' answers meet,
// and failures that must leave the plain scan to decide.
#include "reader/large_file_search.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "driver/shared_search.h"
#include "korrin_process.h"
#include "reader/file_bytes.h"
#include "scan_model.h"

namespace korrin {
namespace {

using korrin_test::TempDir;

// Searches `content` from `from` as if it were `size` bytes long, alone and
// then with its segments' answers coming from the last to the first; both
// must agree.
int64_t Search(const std::string& content, int64_t from, int64_t segment_length,
               int64_t size = -1) {
  TempDir dir;
  korrin_test::WriteFile(dir / "pgm", content);
  const int fd = open((dir / "pgm").c_str(), O_RDONLY);
  if (size < 0) size = static_cast<int64_t>(content.size());
  const FarSearch search{.fd = fd, .from = from, .size = size, .segment_length = segment_length};
  const auto buffer = std::make_unique<ScanBuffer>();
  const int64_t alone = SearchAlone(search, buffer->bytes);
  const int64_t shared = korrin_test::SearchFromTheLastSegment(search, buffer->bytes);
  close(fd);
  EXPECT_EQ(shared, alone) << "answers from the last segment to the first";
  return alone;
}

// `size` dots with "WORKING" at each position.
std::string WithMarkers(size_t size, std::initializer_list<size_t> markers) {
  std::string s(size, '.');
  for (const size_t at : markers) s.replace(at, 7, "WORKING");
  return s;
}

TEST(FarSearch, MarkersOnEveryEdge) {
  constexpr int64_t kFrom = 10000;
  constexpr int64_t kRead = kScanBufferSize;
  struct Case {
    const char* what;
    std::string content;
    int64_t segment_length;
    int64_t expected;
  } const cases[] = {
      {"a marker cut by the search's start is not wholly after it",
       WithMarkers(30000, {kFrom - 3, kFrom + 5000}), 4096, kFrom + 5000},
      {"a marker at the search's start", WithMarkers(30000, {kFrom}), 4096, kFrom},
      {"cut by a segment's end: found in the segment it starts in",
       WithMarkers(30000, {kFrom + 4096 - 3}), 4096, kFrom + 4096 - 3},
      {"cut by a read's end inside a segment longer than a read",
       WithMarkers(3 * kRead, {kFrom + kRead - 3}), 1 << 20, kFrom + kRead - 3},
      {"the first of two in one segment", WithMarkers(30000, {kFrom + 900, kFrom + 100}), 4096,
       kFrom + 100},
      {"the first of two in two segments", WithMarkers(30000, {kFrom + 9000, kFrom + 100}), 4096,
       kFrom + 100},
      {"the last bytes of the file", WithMarkers(30000, {30000 - 7}), 4096, 30000 - 7},
      {"none", WithMarkers(30000, {}), 4096, kNoMarker},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Search(c.content, kFrom, c.segment_length), c.expected) << c.what;
  }
}

TEST(FarSearch, AFailedOrShortReadIsUnsureNeverNone) {
  const std::string content = WithMarkers(30000, {});
  // The file is shorter than the size seen at open: cut meanwhile.
  EXPECT_EQ(Search(content, 0, 4096, 40000), kUnsure);
  // A marker before the point where the file ends is still the answer.
  EXPECT_EQ(Search(WithMarkers(30000, {2000}), 0, 4096, 40000), 2000);
  // Every read fails.
  TempDir dir;
  const int fd = open(dir.path().c_str(), O_RDONLY);
  const auto buffer = std::make_unique<ScanBuffer>();
  EXPECT_EQ(
      SearchAlone({.fd = fd, .from = 0, .size = 40000, .segment_length = 4096}, buffer->bytes),
      kUnsure);
  close(fd);
}

}  // namespace
}  // namespace korrin
