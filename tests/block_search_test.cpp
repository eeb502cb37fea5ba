// SPDX-License-Identifier: MIT
#include "reader/block_search.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "korrin_process.h"
#include "scan_model.h"

namespace korrin {
namespace {

using korrin_test::Found;
using korrin_test::TempDir;
using korrin_test::WriteFile;

// Runs the scan over `content` for the (already upper-cased) name as korrin
// runs it, then with far searches from the first chunk on in page-long
// segments, which must change nothing.
Found Scan(const std::string& content, const char* name) {
  TempDir dir;
  WriteFile(dir / "pgm", content);
  const int fd = open((dir / "pgm").c_str(), O_RDONLY);
  const auto size = static_cast<int64_t>(content.size());
  static ScanBuffer buffer;
  Found plain = korrin_test::ScanAsKorrin(fd, size, name, {}, buffer);
  const Found split = korrin_test::ScanAsKorrin(fd, size, name, korrin_test::EagerSearch(), buffer);
  close(fd);
  EXPECT_EQ(split.anchor, plain.anchor) << "far search, " << size << " bytes";
  EXPECT_EQ(split.window, plain.window) << "far search, " << size << " bytes";
  return plain;
}

// `size` filler bytes with `text` written at each given position.
std::string Filled(size_t size, std::initializer_list<std::pair<size_t, std::string>> parts) {
  std::string s(size, '.');
  for (const auto& [at, text] : parts) s.replace(at, text.size(), text);
  return s;
}

TEST(Search, MarkerPositionsAroundTheChunkEnd) {
  struct Case {
    const char* what;
    size_t size;
    size_t marker;
    int anchor;  // -1: not found
  } const cases[] = {
      {"ends at the chunk's last byte", 20000, 9993, 0},
      {"cut by the chunk end, read whole next chunk", 20000, 9996, 0},
      {"cut by the end, straddling by one byte", 20000, 9994, 0},
      {"second chunk of 107 bytes is too short", 10100, 10050, -1},
      {"ends the first chunk of a 10100-byte file", 10100, 9993, 0},
      {"cut by the chunk end of a 10100-byte file", 10100, 9996, -1},
      {"near the start", 20000, 0, 0},
      {"third chunk", 30000, 19990, 0},
      // The step back is the marker's whole length: after a first chunk
      // without a marker the second starts at 9993 and holds exactly 200
      // bytes of a 10193-byte file, enough to be searched.
      {"second chunk of exactly 200 bytes", 10193, 10100, 0},
      {"second chunk of 199 bytes", 10192, 10100, -1},
  };
  for (const Case& c : cases) {
    const std::string content = Filled(c.size, {{c.marker, "WORKINGPGM1"}});
    const Found f = Scan(content, "PGM1");
    EXPECT_EQ(f.anchor, c.anchor) << c.what;
    if (f.anchor >= 0) {
      // The window holds the bytes right after the marker, wherever the chunk ended.
      EXPECT_EQ(f.window, content.substr(c.marker + 7, 200)) << c.what;
    }
  }
}

TEST(Search, ShortFilesAndShortWindows) {
  // Fewer than 200 bytes: no search at all.
  EXPECT_EQ(Scan(Filled(199, {{0, "WORKINGPGM1"}}), "PGM1").anchor, -1);
  // 200 bytes are searched; the window holds the 193 bytes after the marker.
  Found f = Scan(Filled(200, {{0, "WORKINGPGM1"}}), "PGM1");
  EXPECT_EQ(f.anchor, 0);
  EXPECT_EQ(f.window.size(), 193u);
  // A marker in the last 200 bytes: the name must lie within what is there.
  EXPECT_EQ(Scan(Filled(1000, {{950, "WORKING"}, {990, "PGM1"}}), "PGM1").anchor, 33);
  EXPECT_EQ(Scan(Filled(1000, {{950, "WORKING"}, {998, "PG"}}), "PGM1").anchor, -1);
  // A slash pair whose second '/' would lie past the window's end.
  EXPECT_EQ(Scan(Filled(1000, {{950, "WORKING"}, {998, "/."}}), "PGM1").anchor, -1);
  EXPECT_EQ(Scan(Filled(1000, {{950, "WORKING"}, {995, "/../"}}), "PGM1").anchor, 38 + 28);
  // A marker ending the file: empty window, then a short read.
  EXPECT_EQ(Scan(Filled(1000, {{993, "WORKING"}}), "").anchor, -1);
}

TEST(Search, NameAndSlashRules) {
  struct Case {
    const char* what;
    std::string content;
    const char* name;
    int anchor;
  } const cases[] = {
      {"name inside a longer word", Filled(500, {{100, "WORKING..XPGM1Y"}}), "PGM1", 3},
      {"name wins over an earlier slash pair", Filled(500, {{100, "WORKING/../...PGM1"}}), "PGM1",
       7},
      {"slash pair anchors 28 after the first '/'", Filled(500, {{100, "WORKING..12/34/56"}}),
       "PGM1", 4 + 28},
      {"empty name at index 0", Filled(500, {{100, "WORKING"}}), "", 0},
      {"lower-case name in the file", Filled(500, {{100, "WORKINGpgm1"}}), "PGM1", -1},
      {"lower-case marker", Filled(500, {{100, "workingPGM1"}, {300, "WorkingPGM1"}}), "PGM1", -1},
      {"only the first '/' is tried", Filled(1000, {{100, "WORKING./.x./../"}}), "PGM1", -1},
      {"first '/' fails: a marker inside the window is skipped",
       Filled(1000, {{100, "WORKING/x"}, {150, "WORKING"}, {310, "PGM1"}}), "PGM1", -1},
      {"first '/' fails: the scan resumes after the window",
       Filled(1000, {{100, "WORKING/x"}, {150, "WORKING"}, {307, "WORKINGPGM1"}}), "PGM1", 0},
      {"no '/': a marker inside the window is found",
       Filled(1000, {{100, "WORKING"}, {150, "WORKING"}, {310, "PGM1"}}), "PGM1", 153},
      {"no '/': a second marker's window ends on the name's last byte",
       Filled(1000, {{0, "WORKING"}, {101, "WORKING"}, {304, "PGM1"}}), "PGM1", 196},
      {"no '/': a name cut by the window's end is in a later marker's window",
       Filled(1000, {{100, "WORKING"}, {150, "WORKING"}, {304, "PGM1"}}), "PGM1", 147},
      {"the pair's second '/' just past the window", Filled(400, {{100, "WORKING"}, {304, "/../"}}),
       "PGM1", -1},
      // No '/' for a whole chunk after a marker: the chunks still fall where
      // they would after each marker in turn, whatever is passed over.
      {"the chunk after a second marker meets the end short",
       Filled(10107, {{0, "WORKINGWORKING"}, {10050, "WORKINGPGM1"}}), "PGM1", -1},
      {"the chunk after the marker holds none: the next starts 7 before its end",
       Filled(19807, {{0, "WORKING"}, {19796, "WORKINGPGM1"}}), "PGM1", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Scan(c.content, c.name).anchor, c.anchor) << c.what;
  }
}

// Only the bytes a read returned are looked at: the buffer is full of
// another file's blocks, and a file without a marker shows none.
TEST(Search, OnlyTheBytesReadAreLookedAt) {
  TempDir dir;
  static ScanBuffer buffer;
  const std::string block = "WORKINGPGM1 12/34/56 ";
  for (size_t at = 0; at + block.size() <= sizeof buffer.bytes; at += block.size()) {
    block.copy(buffer.bytes + at, block.size());
  }
  for (const size_t size : {300, 9500}) {
    WriteFile(dir / "pgm", Filled(size, {}));
    const int fd = open((dir / "pgm").c_str(), O_RDONLY);
    EXPECT_EQ(korrin_test::ScanAsKorrin(fd, static_cast<int64_t>(size), "PGM1", {}, buffer).anchor,
              -1)
        << size;
    close(fd);
  }
}

// A run of markers whose windows hold neither the name nor a '/', then
// filler: the plain scan reads its next chunk right after the run's last
// marker, so a marker that ends that chunk is found, and one a byte further
// is not, however the run is passed over.
TEST(Search, ChunksAfterPassedMarkersFallWhereThePlainScanReadsThem) {
  struct Case {
    size_t lead;  // where the run starts
    size_t markers;
    char filler;
  } const cases[] = {
      {0, 2, 'K'},   {0, 1, '.'},      {1, 3, 'W'},     {57, 2, 'G'},
      {63, 10, 'K'}, {9000, 100, '.'}, {15000, 5, 'K'},
  };
  for (const Case& c : cases) {
    const size_t run_end = c.lead + 7 * c.markers;
    for (const size_t past : {0, 1}) {
      std::string content(run_end + kChunkSize - 7 + past, c.filler);
      for (size_t k = 0; k < c.markers; ++k) content.replace(c.lead + 7 * k, 7, "WORKING");
      content += "WORKINGPGM1";
      EXPECT_EQ(Scan(content, "PGM1").anchor, past == 0 ? 0 : -1)
          << c.markers << " markers from " << c.lead << " in " << c.filler << ", " << past;
    }
  }
}

}  // namespace
}  // namespace korrin
