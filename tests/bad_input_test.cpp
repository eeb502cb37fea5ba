// SPDX-License-Identifier: MIT
// Hostile and odd input, one row each: what korrin prints on both streams,
// its exit status, and the report it leaves. Every run has a time limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "korrin_process.h"

namespace korrin_test {
namespace {

// What korrin must do with one list: announce `announced` (paths, one a
// line), end with status 0, and leave a report whose count line says
// `files`, whose size line says `size`, and that has `found` detail lines
// for the program A.
struct Row {
  const char* name;
  std::function<void(const TempDir&)> setup = {};  // files beside the list
  std::string list = {};                           // written to p.lst
  std::string announced = {};
  long long files = 0;
  long long size = 0;
  int found = 0;
};

std::string Announced(const std::string& paths) {
  std::string out;
  for (size_t p = 0, q; (q = paths.find('\n', p)) != std::string::npos; p = q + 1) {
    out += "File processed : " + paths.substr(p, q - p + 1);
  }
  return out;
}

std::string Noise() {
  std::mt19937 rng(42);
  std::string s(200000, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// The lines of `list`, a last one without a newline included.
long long LinesOf(const std::string& list) {
  return std::count(list.begin(), list.end(), '\n') + (!list.empty() && list.back() != '\n');
}

void Program(const TempDir& dir) {
  WriteFile(dir / "a.cbl", kSmallProgram);
}

const Row kRows[] = {
    {.name = "Directory", .list = ".\n", .files = 1},
    {.name = "Fifo",
     .setup = [](const TempDir& d) { ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0); },
     .list = "fifo\n",
     .files = 1},
    {.name = "DevZero", .list = "/dev/zero\n", .files = 1},
    {.name = "DevNull", .list = "/dev/null\n", .files = 1},
    {.name = "LinkToRegularFile",
     .setup =
         [](const TempDir& d) {
           Program(d);
           ASSERT_EQ(symlink("a.cbl", (d / "A.lnk").c_str()), 0);
         },
     .list = "A.lnk\n",
     .announced = "A.lnk\n",
     .files = 1,
     .size = 267,
     .found = 1},
    {.name = "DanglingLink",
     .setup = [](const TempDir& d) { ASSERT_EQ(symlink("nowhere", (d / "dead.cbl").c_str()), 0); },
     .list = "dead.cbl\n",
     .files = 1},
    {.name = "EmptyFile",
     .setup = [](const TempDir& d) { WriteFile(d / "empty.cbl", ""); },
     .list = "empty.cbl\n",
     .announced = "empty.cbl\n",
     .files = 1},
    // Sizes and positions past 4 GiB, on 32-bit machines too: a file of holes
    // whose block lies just past that mark.
    {.name = "SparsePastFourGibibytes",
     .setup =
         [](const TempDir& d) {
           WriteFile(d / "A.cbl", "");
           ASSERT_EQ(truncate((d / "A.cbl").c_str(), 5LL << 30), 0);
           const int fd = open((d / "A.cbl").c_str(), O_WRONLY);
           ASSERT_EQ(pwrite(fd, "WORKINGA 1", 10, (4LL << 30) + 100), 10);
           close(fd);
         },
     .list = "A.cbl\n",
     .announced = "A.cbl\n",
     .files = 1,
     .size = 5LL << 30,
     .found = 1},
    {.name = "BlankLinesCount",
     .setup = Program,
     .list = "\n\na.cbl\n\n",
     .announced = "a.cbl\n",
     .files = 4,
     .size = 267,
     .found = 1},
    {.name = "LastLineWithoutNewline",
     .setup = Program,
     .list = "a.cbl\na.cbl",
     .announced = "a.cbl\na.cbl\n",
     .files = 2,
     .size = 534,
     .found = 2},
    {.name = "NulBytesEndTheLine",
     .setup = Program,
     .list = std::string("a.cbl\0junk\n\0\n", 13),
     .announced = "a.cbl\n",
     .files = 2,
     .size = 267,
     .found = 1},
    {.name = "LineOfHundredThousandCharacters",
     .setup = Program,
     .list = std::string(100000, 'd') + "/a.cbl\n",
     .files = 1},
    {.name = "HundredThousandLines",
     .setup = Program,
     .list = Repeat("a.cbl\n", 100000),
     .announced = Repeat("a.cbl\n", 100000),
     .files = 100000,
     .size = 26700000,
     .found = 100000},
    {.name = "CrlfEndingsKeepTheCarriageReturn",
     .setup = Program,
     .list = "a.cbl\r\na.cbl\r\n",
     .files = 2},
    {.name = "BinaryNoise", .list = Noise(), .files = LinesOf(Noise())},
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

class BadInput : public testing::TestWithParam<Row> {};

TEST_P(BadInput, HandledWithoutLossOrHang) {
  const Row& row = GetParam();
  TempDir dir;
  if (row.setup) row.setup(dir);
  WriteFile(dir / "p.lst", row.list);
  const Outcome o = RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path()});
  ASSERT_FALSE(o.timed_out);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, Announced(row.announced));
  EXPECT_EQ(o.err, "");
  const ReportContents report = ReadReport(ReadFile(dir / "out.txt"));
  EXPECT_EQ(report.files, row.files);
  EXPECT_EQ(report.size, row.size);
  EXPECT_EQ(DetailsNamed(report, "A"), row.found);
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace korrin_test
