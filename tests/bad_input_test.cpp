// SPDX-License-Identifier: MIT
// Hostile and odd input, one row each: what korrin prints on both streams,
// its exit status, and the report it leaves. Every run has a time limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

const std::string kUsage = "Usage : korrin dest_file [-h] \n";

struct Row {
  const char* name;
  std::function<void(const TempDir&)> setup;  // files beside the list
  std::string list;                           // written to p.lst
  std::vector<std::string> args = {"out.txt"};
  std::string out;  // paths announced, one a line; or the whole stdout if starting with '='
  std::string err;
  int status = 0;
  // What the report must hold: the count and size lines, or nothing for no report.
  long long lines = -1;
  unsigned long long size = 0;
  int found = 0;  // detail lines
};

std::string Announced(const std::string& paths) {
  if (!paths.empty() && paths[0] == '=') return paths.substr(1);
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

void Program(const TempDir& dir) {
  WriteFile(dir / "a.cbl", kSmallProgram);
}

const Row kRows[] = {
    {"Directory", nullptr, ".\n", {"out.txt"}, "", "", 0, 1, 0, 0},
    {"Fifo",
     [](const TempDir& d) { ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0); },
     "fifo\n",
     {"out.txt"},
     "",
     "",
     0,
     1,
     0,
     0},
    {"DevZero", nullptr, "/dev/zero\n", {"out.txt"}, "", "", 0, 1, 0, 0},
    {"DevNull", nullptr, "/dev/null\n", {"out.txt"}, "", "", 0, 1, 0, 0},
    {"LinkToRegularFile",
     [](const TempDir& d) {
       Program(d);
       ASSERT_EQ(symlink("a.cbl", (d / "A.lnk").c_str()), 0);
     },
     "A.lnk\n",
     {"out.txt"},
     "A.lnk\n",
     "",
     0,
     1,
     267,
     1},
    {"DanglingLink",
     [](const TempDir& d) { ASSERT_EQ(symlink("nowhere", (d / "dead.cbl").c_str()), 0); },
     "dead.cbl\n",
     {"out.txt"},
     "",
     "",
     0,
     1,
     0,
     0},
    {"EmptyFile",
     [](const TempDir& d) { WriteFile(d / "empty.cbl", ""); },
     "empty.cbl\n",
     {"out.txt"},
     "empty.cbl\n",
     "",
     0,
     1,
     0,
     0},
    // Sizes and positions past 4 GiB, on 32-bit machines too: a file of holes
    // whose block lies just past that mark.
    {"SparsePastFourGibibytes",
     [](const TempDir& d) {
       WriteFile(d / "A.cbl", "");
       ASSERT_EQ(truncate((d / "A.cbl").c_str(), 5LL << 30), 0);
       const int fd = open((d / "A.cbl").c_str(), O_WRONLY);
       ASSERT_EQ(pwrite(fd, "WORKINGA 1", 10, (4LL << 30) + 100), 10);
       close(fd);
     },
     "A.cbl\n",
     {"out.txt"},
     "A.cbl\n",
     "",
     0,
     1,
     5ULL << 30,
     1},
    {"BlankLinesCount", Program, "\n\na.cbl\n\n", {"out.txt"}, "a.cbl\n", "", 0, 4, 267, 1},
    {"LastLineWithoutNewline",
     Program,
     "a.cbl\na.cbl",
     {"out.txt"},
     "a.cbl\na.cbl\n",
     "",
     0,
     2,
     534,
     2},
    {"NulBytesEndTheLine",
     Program,
     std::string("a.cbl\0junk\n\0\n", 13),
     {"out.txt"},
     "a.cbl\n",
     "",
     0,
     2,
     267,
     1},
    {"LineOfHundredThousandCharacters",
     Program,
     std::string(100000, 'd') + "/a.cbl\n",
     {"out.txt"},
     "",
     "",
     0,
     1,
     0,
     0},
    {"HundredThousandLines",
     Program,
     Repeat("a.cbl\n", 100000),
     {"out.txt"},
     Repeat("a.cbl\n", 100000),
     "",
     0,
     100000,
     26700000,
     100000},
    {"CrlfEndingsKeepTheCarriageReturn",
     Program,
     "a.cbl\r\na.cbl\r\n",
     {"out.txt"},
     "",
     "",
     0,
     2,
     0,
     0},
    {"BinaryNoise", nullptr, Noise(), {"out.txt"}, "", "", 0, -2, 0, 0},
    {"EmptyList", nullptr, "", {"out.txt"}, "", "", 0, 0, 0, 0},
    {"ListIsADirectory", nullptr, "", {"out.txt"}, "=Error reading LIST file\n", "", 4, 0, 0, 0},
    {"DestinationInMissingDirectory",
     nullptr,
     "a.cbl\n",
     {"no/such/out.txt"},
     "=Error opening dest_file : no/such/out.txt\n",
     "",
     4,
     -1,
     0,
     0},
    {"DestinationFull",
     Program,
     "a.cbl\n",
     {"/dev/full"},
     "=File processed : a.cbl\nError writing dest_file : /dev/full\n",
     "",
     4,
     -1,
     0,
     0},
    {"OptionByteOfHighValue",
     nullptr,
     "",
     {"out.txt", "-R\x80"},
     "",
     "korrin : -\x80 : unknown argument\n" + kUsage,
     1,
     -1,
     0,
     0},
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
  const std::string list = std::string(row.name) == "ListIsADirectory" ? "." : "p.lst";
  const Outcome o =
      RunKorrin({.args = row.args, .list = list, .cwd = dir.path(), .timeout_seconds = 60});
  ASSERT_FALSE(o.timed_out);
  EXPECT_EQ(o.status, row.status);
  EXPECT_EQ(o.out, Announced(row.out));
  EXPECT_EQ(o.err, row.err);
  if (row.lines == -1) {  // no report of this run
    EXPECT_FALSE(Exists(dir / "out.txt"));
    return;
  }
  const std::string report = ReadFile(dir / "out.txt");
  if (row.lines >= 0) {
    EXPECT_NE(report.find("files........: " + std::to_string(row.lines) + "\n"), std::string::npos);
    EXPECT_NE(report.find("size.......................: " + std::to_string(row.size) + "\n"),
              std::string::npos);
  }
  size_t details = 0;
  const std::string detail = "\n I A        I";
  for (size_t p = report.find(detail); p != std::string::npos; p = report.find(detail, p + 1)) {
    ++details;
  }
  EXPECT_EQ(details, static_cast<size_t>(row.found));
}

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

TEST(BadInputNoise, EveryNoisyLineCounts) {
  // The noise row above checks for no crash and no hang; here its count.
  TempDir dir;
  const std::string noise = Noise();
  WriteFile(dir / "p.lst", noise);
  const Outcome o = RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path()});
  EXPECT_EQ(o.status, 0);
  long long lines = std::count(noise.begin(), noise.end(), '\n');
  if (noise.back() != '\n') ++lines;
  EXPECT_NE(ReadFile(dir / "out.txt").find("files........: " + std::to_string(lines) + "\n"),
            std::string::npos);
}

}  // namespace
}  // namespace korrin_test
