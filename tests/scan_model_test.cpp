// SPDX-License-Identifier: MIT
// The scanner as it runs, through its buffer and the segment search, against
// the same scan through plain reads (scan_model.h). Thousands of generated
// files put markers, names and slashes around chunk boundaries, the buffer's
// end, the end of the file and the edges of holes; both must agree on every
// one.
#include "scan_model.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>
#include <string_view>

#include "korrin_process.h"

namespace korrin {
namespace {

// A file of `size` filler bytes with markers, names and slashes placed near
// chunk boundaries, near the end, and after each other.
std::string MakeFile(std::mt19937& rng, const std::string& name) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const int sizes[] = {pick(150, 250),     pick(250, 10500),   pick(9900, 10300),
                       pick(19900, 20300), pick(10000, 40000), pick(120000, 180000)};
  const int size = sizes[pick(0, 5)];
  std::string s(static_cast<size_t>(size), '.');
  const char filler[] = ".. ..AB/W:WORKIN";
  for (char& c : s) {
    if (pick(0, 9) == 0) c = filler[pick(0, sizeof filler - 2)];
  }
  // One file in three is dense in markers, with hardly a '/' or a name, so
  // that the scan passes many windows at once.
  if (pick(0, 2) == 0) {
    const int gap = pick(0, 30);
    for (size_t at = 0; at + 7 <= s.size(); at += 7 + static_cast<size_t>(gap)) {
      s.replace(at, 7, "WORKING");
    }
    for (char& c : s) {
      if (c == '/' || c == 'A') c = '.';
    }
  }
  const std::string pieces[] = {"WORKING", "WORKING", "WORKING", "working", "WORKIN",
                                name,      name,      "/",       "/../",    "//"};
  const int boundaries[] = {0,          9993,     10000, 19986, 20000, 29979, kScanBufferSize,
                            size - 200, size - 7, size};
  const int count = pick(0, 6);
  int last = pick(0, size);
  for (int k = 0; k < count; ++k) {
    int at = 0;
    switch (pick(0, 2)) {
      case 0:
        at = boundaries[pick(0, 9)] + pick(-12, 12);
        break;
      case 1:
        at = last + pick(0, 230);
        break;
      default:
        at = pick(0, size);
        break;
    }
    const std::string& piece = pieces[pick(0, 9)];
    if (at < 0 || at + static_cast<int>(piece.size()) > size) continue;
    s.replace(static_cast<size_t>(at), piece.size(), piece);
    last = at;
  }
  // One file in four has holes: whole pages of zeros, which may cut a
  // marker, a name or a window; short ones, read through, and long ones,
  // passed by. A block may follow a hole closely: a hole taken a byte too
  // long hides it.
  for (int hole = pick(0, 3) == 0 ? pick(1, 3) : 0; hole > 0; --hole) {
    const int at = pick(0, size / 4096) * 4096;
    const int end = std::min(at + (pick(0, 1) == 0 ? pick(1, 3) : pick(16, 24)) * 4096, size);
    s.replace(static_cast<size_t>(at), static_cast<size_t>(end - at), std::string(end - at, '\0'));
    const std::string block = "WORKING" + name;
    const int block_at = end + (pick(0, 1) == 0 ? 0 : pick(1, 20));
    if (pick(0, 1) == 0 && block_at + static_cast<int>(block.size()) <= size) {
      s.replace(static_cast<size_t>(block_at), block.size(), block);
    }
  }
  return s;
}

// Writes `content` to `path`, leaving each page of zeros a hole.
void WriteSparse(const std::string& path, const std::string& content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(content.size())), 0);
  for (size_t at = 0; at < content.size(); at += 4096) {
    const std::string_view page = std::string_view(content).substr(at, 4096);
    if (page.find_first_not_of('\0') == std::string_view::npos) continue;
    ASSERT_EQ(pwrite(fd, page.data(), page.size(), static_cast<off_t>(at)),
              static_cast<ssize_t>(page.size()));
  }
  close(fd);
}

// Runs the scanner, with `large_files`, and the plain reads over `files`
// generated files.
void CompareWithPlainReads(int files, const LargeFileSettings& large_files) {
  korrin_test::TempDir dir;
  const std::string path = dir / "pgm";
  std::mt19937 rng(20261208);
  static ScanBuffer buffer;
  int found = 0;
  for (int file = 0; file < files; ++file) {
    const std::string name = file % 5 == 0 ? "" : file % 2 ? "PGM1" : "AB";
    const std::string content = MakeFile(rng, name);
    WriteSparse(path, content);
    const int fd = open(path.c_str(), O_RDONLY);
    const auto size = static_cast<int64_t>(content.size());
    const korrin_test::Found expected = korrin_test::ScanPlainly(fd, name.c_str(), buffer);
    const korrin_test::Found got =
        korrin_test::ScanAsKorrin(fd, size, name.c_str(), large_files, buffer);
    close(fd);
    ASSERT_EQ(got.anchor, expected.anchor) << "file " << file << ", " << size << " bytes";
    ASSERT_EQ(got.window, expected.window) << "file " << file << ", " << size << " bytes";
    found += got.anchor >= 0;
  }
  // The generator must exercise both outcomes.
  EXPECT_GT(found, files / 13);
  EXPECT_LT(found, files - files / 13);
}

TEST(ScanModel, TheBufferedReadingFindsWhatPlainReadsFind) {
  CompareWithPlainReads(4000, {});
}

// The rest of each file searched far ahead as a large file's would be, in
// page-long segments whose answers come from the last to the first, so that
// files of a few kilobytes span several: the chunk the search skips to must
// be the one the plain reads reach.
TEST(ScanModel, TheFarSearchFindsWhatPlainReadsFind) {
  CompareWithPlainReads(2000, korrin_test::EagerSearch());
}

}  // namespace
}  // namespace korrin
