// SPDX-License-Identifier: MIT
// The black-box cases: a list and the files beside it, and faults or limits
// put on korrin, against what it prints on both streams, its exit status and
// the report it leaves. One row per case; on a failure, only the bytes that
// differ are shown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

#include "korrin_process.h"

namespace korrin_test {
namespace {

struct Case {
  const char* name;
  std::string list;                                // written to p.lst
  std::function<void(const TempDir&)> setup = {};  // the files beside it
  std::string faults = {};                         // see fault_shim.cpp
  std::function<void()> in_child = {};             // limits
  std::string report = "out.txt";                  // the destination
  // What korrin must leave: both streams, the status, and in the report the
  // count and size lines, the names of the detail lines in order (each
  // followed by a blank) and, unless -1, the pages.
  std::string out = {};
  int status = 0;
  long long files = 0;
  long long size = 0;
  std::string names = {};
  int pages = -1;
  bool own_descriptors = false;  // the sanitizers' descriptors would disturb it
};

// One "File processed" line per path.
std::string Processed(std::initializer_list<std::string> paths, int times = 1) {
  std::string lines;
  for (const std::string& path : paths) lines += "File processed : " + path + "\n";
  return Repeat(lines, times);
}

std::string Noise() {
  std::mt19937 rng(42);
  std::string s(200000, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

long long LinesOf(const std::string& list) {
  return std::count(list.begin(), list.end(), '\n') + (!list.empty() && list.back() != '\n');
}

void Program(const TempDir& dir) {
  WriteFile(dir / "a.cbl", kSmallProgram);
}

// a.cbl, and x.cbl with its block at 25 000 of 30 000 bytes: past the
// first read.
void TwoPrograms(const TempDir& dir) {
  Program(dir);
  WriteFile(dir / "x.cbl", ProgramWithBlockAt(30000, 25000));
}

// A file of `size` bytes, mostly a hole, with `text` at `at`.
void SparseFile(const TempDir& dir, const char* name, off_t size, off_t at,
                const std::string& text) {
  WriteFile(dir / name, "");
  ASSERT_EQ(truncate((dir / name).c_str(), size), 0);
  const int fd = open((dir / name).c_str(), O_WRONLY);
  ASSERT_EQ(pwrite(fd, text.data(), text.size(), at), static_cast<ssize_t>(text.size()));
  close(fd);
}

// 30 directories of 28 characters and more: a path far past 255 bytes.
std::string DeepDirectory() {
  std::string path = ".";
  for (int k = 0; k < 30; ++k) path += "/directory-with-a-long-name-" + std::to_string(k);
  return path;
}

// What a.cbl, x.cbl, a.cbl give when the machine fails on x.cbl (its block
// at 25 000 of 30 000 bytes, past the first read), or not.
struct OnXOutcome {
  std::string out;
  int status;
  long long size;
  const char* names;
};
// A message, the run goes on, status 4. A read that fails past the first
// chunk counts the file whole; its block is lost.
const OnXOutcome kOpenFails = {
    Processed({"a.cbl"}) + "Error opening file : x.cbl\n" + Processed({"a.cbl"}), 4, 534, "A A "};
const OnXOutcome kReadFails = {
    Processed({"a.cbl", "x.cbl"}) + "Error reading file : x.cbl\n" + Processed({"a.cbl"}), 4, 30534,
    "A A "};
const OnXOutcome kWhole = {Processed({"a.cbl", "x.cbl", "a.cbl"}), 0, 30534, "A X A "};

Case OnX(const char* name, const char* faults, const OnXOutcome& outcome) {
  return {.name = name,
          .list = "a.cbl\nx.cbl\na.cbl\n",
          .setup = TwoPrograms,
          .faults = faults,
          .out = outcome.out,
          .status = outcome.status,
          .files = 3,
          .size = outcome.size,
          .names = outcome.names};
}

const Case kCases[] = {
    // The list's lines.
    {.name = "BlankLinesCount",
     .list = "\n\na.cbl\n\n",
     .setup = Program,
     .out = Processed({"a.cbl"}),
     .files = 4,
     .size = 267,
     .names = "A "},
    {.name = "LastLineWithoutNewline",
     .list = "a.cbl\na.cbl",
     .setup = Program,
     .out = Processed({"a.cbl"}, 2),
     .files = 2,
     .size = 534,
     .names = Repeat("A ", 2)},
    {.name = "NulBytesEndTheLine",
     .list = std::string("a.cbl\0junk\n\0\n", 13),
     .setup = Program,
     .out = Processed({"a.cbl"}),
     .files = 2,
     .size = 267,
     .names = "A "},
    {.name = "CrlfEndingsKeepTheCarriageReturn",
     .list = "a.cbl\r\na.cbl\r\n",
     .setup = Program,
     .files = 2},
    {.name = "LineOfHundredThousandCharacters",
     .list = std::string(100000, 'd') + "/a.cbl\n",
     .setup = Program,
     .files = 1},
    {.name = "HundredThousandLines",
     .list = Repeat("a.cbl\n", 100000),
     .setup = Program,
     .out = Processed({"a.cbl"}, 100000),
     .files = 100000,
     .size = 26700000,
     .names = Repeat("A ", 100000),
     .pages = 1887},
    {.name = "BinaryNoise", .list = Noise(), .files = LinesOf(Noise())},
    // A line that names no file (too long for a path) still starts the
    // next page when the last one is full.
    {.name = "ATooLongLineAfterAFullPage",
     .list = Repeat("a.cbl\n", 53) + std::string(5000, 'u') + "\n",
     .setup = Program,
     .out = Processed({"a.cbl"}, 53),
     .files = 54,
     .size = 14151,  // 53 times 267
     .names = Repeat("A ", 53),
     .pages = 2},
    {.name = "LongPathAndDestinationTakenWhole",
     .list = DeepDirectory() + "/a.cbl\n",
     .setup =
         [](const TempDir& d) {
           std::string sub = d.path();
           for (int k = 0; k < 30; ++k) {
             sub += "/directory-with-a-long-name-" + std::to_string(k);
             ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
           }
           WriteFile(sub + "/a.cbl", kSmallProgram);
         },
     .report = DeepDirectory() + "/out.txt",
     .out = Processed({DeepDirectory() + "/a.cbl"}),
     .files = 1,
     .size = 267,
     .names = "A "},
    {.name = "ListReadInterrupted",
     .list = Repeat("a.cbl\n", 3),
     .setup = Program,
     .faults = "p.lst=read-eintr,read-max:4",
     .out = Processed({"a.cbl"}, 3),
     .files = 3,
     .size = 801,
     .names = Repeat("A ", 3)},

    // Paths that name no program are silent: counted, not announced.
    {.name = "Directory", .list = ".\n", .files = 1},
    {.name = "Fifo",
     .list = "fifo\n",
     .setup = [](const TempDir& d) { ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0); },
     .files = 1},
    {.name = "DevZero", .list = "/dev/zero\n", .files = 1},
    {.name = "DevNull", .list = "/dev/null\n", .files = 1},
    // A link to a program is followed; nothing of its line reaches the
    // missing file's after it.
    {.name = "ErrorsOfThePath",
     .list = "missing.cbl\na.cbl/under-a-file\nloop\ndead.cbl\n" + std::string(300, 'n') +
             ".cbl\n\nA.lnk\nmissing/a.cbl\n",
     .setup =
         [](const TempDir& d) {
           Program(d);
           for (const auto& [target, link] :
                {std::pair{"loop", "loop"}, {"nowhere", "dead.cbl"}, {"a.cbl", "A.lnk"}}) {
             ASSERT_EQ(symlink(target, (d / link).c_str()), 0);
           }
         },
     .out = Processed({"A.lnk"}),
     .files = 8,
     .size = 267,
     .names = "A "},

    // Programs.
    {.name = "EmptyFile",
     .list = "empty.cbl\n",
     .setup = [](const TempDir& d) { WriteFile(d / "empty.cbl", ""); },
     .out = Processed({"empty.cbl"}),
     .files = 1},
    {.name = "NameUpperCasedAndCutToEight",
     .list = "longname12.cbl\n",
     .setup =
         [](const TempDir& d) {
           WriteFile(d / "longname12.cbl", std::string(250, '.') + "WORKINGxLONGNAME");
         },
     .out = Processed({"longname12.cbl"}),
     .files = 1,
     .size = 266,
     .names = "LONGNAME "},
    // Positions and sizes past 4 GiB, on 32-bit machines too.
    {.name = "BlockPastFourGibibytes",
     .list = "A.cbl\n",
     .setup =
         [](const TempDir& d) {
           SparseFile(d, "A.cbl", 5LL << 30, (4LL << 30) + 100, "WORKINGA 1");
         },
     .out = Processed({"A.cbl"}),
     .files = 1,
     .size = 5LL << 30,
     .names = "A "},
    {.name = "SizesPastFourGibibytesAddUpWhole",
     .list = "A.cbl\nA.cbl\n",
     .setup = [](const TempDir& d) { SparseFile(d, "A.cbl", 3LL << 30, 250, "WORKINGA"); },
     .out = Processed({"A.cbl"}, 2),
     .files = 2,
     .size = 6LL << 30,
     .names = Repeat("A ", 2)},

    // The machine fails.
    OnX("OpenEio", "x.cbl=open-eio", kOpenFails),
    OnX("OpenEmfile", "x.cbl=open-emfile", kOpenFails),
    OnX("OpenEnfile", "x.cbl=open-enfile", kOpenFails),
    OnX("OpenEnomem", "x.cbl=open-enomem", kOpenFails),
    OnX("FstatFails", "x.cbl=fstat-eio", kOpenFails),
    OnX("ReadEioMidway", "x.cbl=read-eio-after:12000", kReadFails),
    OnX("ReadEioAtOnce", "x.cbl=read-eio-after:0", kReadFails),
    // 0, 1, 2, the report and the list: no descriptor left for a program.
    {.name = "NoDescriptorLeft",
     .list = Repeat("a.cbl\n", 3),
     .setup = Program,
     .in_child = [] { Limit(RLIMIT_NOFILE, 5); },
     .out = Repeat("Error opening file : a.cbl\n", 3),
     .status = 4,
     .files = 3,
     .own_descriptors = true},
    // Interrupted calls are retried; a short read is not the end.
    OnX("OpenInterrupted", "x.cbl=open-eintr", kWhole),
    OnX("ReadInterrupted", "x.cbl=read-eintr", kWhole),
    OnX("ShortReads", "x.cbl=read-max:100", kWhole),
    OnX("ShortReadsInterrupted", "x.cbl=read-max:3000,read-eintr", kWhole),
    // The size seen at open is 0: reads go on until one returns 0.
    OnX("ShortReadsOfASizeZeroFile", "x.cbl=size-zero,read-max:100",
        {kWhole.out, 0, 534, "A X A "}),
};

// Fails with the first byte at which `actual` differs from `expected`, and
// a few bytes around it, rather than both texts whole.
void ExpectSameBytes(const char* what, const std::string& expected, const std::string& actual) {
  if (expected == actual) return;
  const auto differ = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  const size_t at = static_cast<size_t>(differ.first - expected.begin());
  const size_t from = at < 20 ? 0 : at - 20;
  ADD_FAILURE() << what << " differs at byte " << at << " (of " << expected.size() << " expected, "
                << actual.size()
                << " got)\n  expected: " << testing::PrintToString(expected.substr(from, 60))
                << "\n       got: " << testing::PrintToString(actual.substr(from, 60));
}

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class BlackBox : public testing::TestWithParam<Case> {};

TEST_P(BlackBox, OutputsStatusAndReport) {
  const Case& c = GetParam();
  if (c.own_descriptors && (SanitizedBuild() || UnderValgrind())) {
    GTEST_SKIP() << "the sanitizers and valgrind hold descriptors of their own";
  }
  TempDir dir;
  if (c.setup) c.setup(dir);
  WriteFile(dir / "p.lst", c.list);
  const Outcome o =
      RunKorrin({.args = {c.report},
                 .list = "p.lst",
                 .cwd = dir.path(),
                 .env = c.faults.empty() ? std::vector<std::string>{} : WithFaults(c.faults),
                 .in_child = c.in_child});
  ASSERT_FALSE(o.timed_out);
  ExpectSameBytes("standard output", c.out, o.out);
  ExpectSameBytes("standard error", "", o.err);
  EXPECT_EQ(o.status, c.status);
  const ReportContents report = ReadReport(ReadFile(dir / c.report));
  EXPECT_EQ(report.files, c.files);
  EXPECT_EQ(report.size, c.size);
  std::string names;
  for (const std::string& detail : report.details) {
    names += detail.substr(2, detail.find(' ', 2) - 2) + " ";
  }
  ExpectSameBytes("the detail lines' names", c.names, names);
  if (c.pages >= 0) {
    EXPECT_EQ(report.pages, c.pages);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BlackBox, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
}  // namespace korrin_test
