// SPDX-License-Identifier: MIT
// The report is never lost or silently wrong: failures of the machine made
// to happen, through a preloaded fault-injection library (fault_shim.cpp) or
// the real mechanisms (closed descriptors, a pipe closed by its reader,
// resource limits), each checked for both streams, the status and the report.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

struct Expected {
  std::string out;
  int status = 0;
  long long files = 0;  // the count line of the report
  long long size = 0;   // the size line
  int found = 0;        // detail lines
};

// Checks a finished run against `e`.
void Check(const Outcome& o, const TempDir& dir, const Expected& e) {
  EXPECT_FALSE(o.timed_out);
  EXPECT_EQ(o.out, e.out);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.status, e.status);
  const ReportContents report = ReadReport(ReadFile(dir / "out.txt"));
  EXPECT_EQ(report.files, e.files);
  EXPECT_EQ(report.size, e.size);
  EXPECT_EQ(static_cast<int>(report.details.size()), e.found);
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Each row lists a.cbl, x.cbl, a.cbl with faults on x.cbl.
struct FaultRow {
  const char* name;
  const char* faults;
  Expected expected;
};

const std::string kA = "File processed : a.cbl";
const std::string kX = "File processed : x.cbl";

// The machine fails: a message, the run goes on, status 4. A failed read
// past the first chunk counts the file whole; its block, beyond, is lost.
const Expected kOpenFails = {.out = Lines({kA, "Error opening file : x.cbl", kA}),
                             .status = 4,
                             .files = 3,
                             .size = 534,
                             .found = 2};
const Expected kReadFails = {.out = Lines({kA, kX, "Error reading file : x.cbl", kA}),
                             .status = 4,
                             .files = 3,
                             .size = 30534,
                             .found = 2};
// Interrupted calls are retried; short reads are not the end.
const Expected kWhole = {
    .out = Lines({kA, kX, kA}), .status = 0, .files = 3, .size = 30534, .found = 3};

const FaultRow kFaultRows[] = {
    {.name = "OpenEio", .faults = "x.cbl=open-eio", .expected = kOpenFails},
    {.name = "OpenEmfile", .faults = "x.cbl=open-emfile", .expected = kOpenFails},
    {.name = "OpenEnfile", .faults = "x.cbl=open-enfile", .expected = kOpenFails},
    {.name = "OpenEnomem", .faults = "x.cbl=open-enomem", .expected = kOpenFails},
    {.name = "FstatFails", .faults = "x.cbl=fstat-eio", .expected = kOpenFails},
    {.name = "ReadEioMidway", .faults = "x.cbl=read-eio-after:12000", .expected = kReadFails},
    {.name = "ReadEioAtOnce", .faults = "x.cbl=read-eio-after:0", .expected = kReadFails},
    {.name = "OpenInterrupted", .faults = "x.cbl=open-eintr", .expected = kWhole},
    {.name = "ReadInterrupted", .faults = "x.cbl=read-eintr", .expected = kWhole},
    {.name = "ShortReads", .faults = "x.cbl=read-max:100", .expected = kWhole},
    // The size seen at open is 0: reads go on until one returns 0.
    {.name = "ShortReadsOfASizeZeroFile",
     .faults = "x.cbl=size-zero,read-max:100",
     .expected = {.out = kWhole.out, .status = 0, .files = 3, .size = 534, .found = 3}},
    {.name = "ShortReadsInterrupted",
     .faults = "x.cbl=read-max:3000,read-eintr",
     .expected = kWhole},
};

void PrintTo(const FaultRow& row, std::ostream* os) {
  *os << row.name;
}

class FileFaults : public testing::TestWithParam<FaultRow> {};

TEST_P(FileFaults, MachineFailuresAreReportedAndTheRunGoesOn) {
  const FaultRow& row = GetParam();
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "x.cbl", ProgramWithBlockAt(30000, 25000));
  WriteFile(dir / "p.lst", "a.cbl\nx.cbl\na.cbl\n");
  const Outcome o = RunKorrin(
      {.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .env = WithFaults(row.faults)});
  Check(o, dir, row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, FileFaults, testing::ValuesIn(kFaultRows),
                         [](const testing::TestParamInfo<FaultRow>& info) {
                           return info.param.name;
                         });

TEST(FileFaults, ErrorsOfThePathStaySilent) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
  const std::string list = Lines(
      {"missing.cbl", "a.cbl/under-a-file", "loop", std::string(300, 'n') + ".cbl", "", "a.cbl"});
  WriteFile(dir / "p.lst", list);
  const Outcome o = RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path()});
  Check(o, dir, {Lines({kA}), 0, 6, 267, 1});
}

// The sanitizers reserve far more address space than any limit here allows,
// and valgrind keeps descriptors of its own.
bool LimitsDisturbed() {
  return SanitizedBuild() || UnderValgrind();
}

TEST(Surroundings, ClosedStandardStreamsAreNotTakenByTheFiles) {
  if (UnderValgrind()) GTEST_SKIP() << "valgrind cannot start with its standard streams closed";
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  // More progress than one stdio buffer holds, so that it is written mid-run.
  WriteFile(dir / "p.lst", Repeat("a.cbl\n", 300));
  const Outcome whole = RunKorrin({.args = {"whole.txt"}, .list = "p.lst", .cwd = dir.path()});
  ASSERT_EQ(whole.status, 0);
  // Every standard stream closed in turn, then all three: the report and
  // the list never take their descriptors, so nothing else lands in the
  // report.
  for (const std::vector<int>& closed : {std::vector<int>{0}, {1}, {2}, {0, 1, 2}}) {
    unlink((dir / "out.txt").c_str());
    const Outcome o =
        RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .in_child = [closed] {
                     for (const int fd : closed) close(fd);
                   }});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ReadFile(dir / "out.txt"), ReadFile(dir / "whole.txt")) << closed.size();
  }
}

TEST(Surroundings, ProgressPipeClosedByItsReader) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "p.lst", Repeat("a.cbl\n", 3000));  // progress beyond any pipe buffer
  const Outcome o =
      RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .in_child = [] {
                   int ends[2];
                   if (pipe(ends) != 0) _exit(126);
                   close(ends[0]);  // the reader is gone
                   dup2(ends[1], 1);
                   close(ends[1]);
                 }});
  EXPECT_EQ(o.status, 0);
  const ReportContents report = ReadReport(ReadFile(dir / "out.txt"));
  EXPECT_EQ(report.files, 3000);
  EXPECT_EQ(report.size, 801000);
}

TEST(Surroundings, FileSizeLimitIsAWriteFailure) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "p.lst", Repeat("a.cbl\n", 100));
  const Outcome whole = RunKorrin({.args = {"whole.txt"}, .list = "p.lst", .cwd = dir.path()});
  ASSERT_EQ(whole.status, 0);
  const Outcome o =
      RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .in_child = [] {
                   Limit(RLIMIT_FSIZE, 4096);
                 }});
  EXPECT_EQ(o.status, 4);
  EXPECT_EQ(o.out, Repeat(kA + "\n", 100) + "Error writing dest_file : out.txt\n");
  // What fits under the limit is the report's true beginning.
  const std::string cut = ReadFile(dir / "out.txt");
  EXPECT_EQ(cut.size(), 4096u);
  EXPECT_EQ(cut, ReadFile(dir / "whole.txt").substr(0, 4096));
}

// Memory is fixed: a list line of 64 MiB needs none of its own. Under the
// least address-space limit that a run pinned to one processor lives with,
// and above it, a run on every processor completes the same, with fewer
// workers or none when their memory cannot be had.
TEST(Surroundings, AMemoryLimitIsNoWorseThanOneLineAtATime) {
  if (LimitsDisturbed()) GTEST_SKIP() << "address-space limits do not apply under sanitizers";
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "p.lst", "a.cbl\n" + std::string(64 << 20, 'x') + "\na.cbl\n");
  auto run = [&dir](rlim_t kib, bool pinned) {
    unlink((dir / "out.txt").c_str());
    const Outcome o = RunKorrin(
        {.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .in_child = [kib, pinned] {
           if (pinned) PinToOneProcessor();
           Limit(RLIMIT_AS, kib << 10);
         }});
    return std::make_pair(o, ReadFile(dir / "out.txt"));
  };
  const auto whole = run(256 << 10, false);
  Check(whole.first, dir, {Lines({kA, kA}), 0, 3, 534, 2});
  auto completes = [&](rlim_t kib, bool pinned) {
    const auto [o, report] = run(kib, pinned);
    return o.status == 0 && o.out == whole.first.out && report == whole.second;
  };
  rlim_t fails = 1 << 10;
  rlim_t least = 32 << 10;  // far below the line's length
  ASSERT_TRUE(completes(least, true));
  while (least - fails > 16) {
    const rlim_t middle = (fails + least) / 2;
    (completes(middle, true) ? least : fails) = middle;
  }
  for (rlim_t kib = least; kib < least + (2 << 10); kib += 128) {
    EXPECT_TRUE(completes(kib, false)) << kib << " KiB";
  }
}

TEST(Surroundings, DescriptorLimitIsReportedForEachFile) {
  if (LimitsDisturbed()) GTEST_SKIP() << "the sanitizers and valgrind use descriptors of their own";
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "p.lst", Repeat("a.cbl\n", 3));
  // 0, 1, 2, the report and the list: no descriptor left for a program.
  const Outcome o =
      RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .in_child = [] {
                   Limit(RLIMIT_NOFILE, 5);
                 }});
  Check(o, dir, {Repeat("Error opening file : a.cbl\n", 3), 4, 3, 0, 0});
}

TEST(Surroundings, AFileCutWhileItIsScannedEndsWhereItWasCut) {
  TempDir dir;
  // Large enough to be searched in mapped and read segments, on two threads
  // or pinned on one; mostly a hole. Cut under a mapping, the file raises
  // SIGBUS, which must end only the search, not the run.
  constexpr off_t kSize = off_t{48} << 20;
  constexpr off_t kMarker = off_t{40} << 20;
  WriteFile(dir / "big.cbl", "");
  ASSERT_EQ(truncate((dir / "big.cbl").c_str(), kSize), 0);
  WriteFile(dir / "p.lst", "big.cbl\n");
  struct Case {
    off_t cut_to;
    int found;
  } const cases[] = {{off_t{20} << 20, 0}, {off_t{44} << 20, 1}};
  for (const Case& c : cases) {
    for (const bool pinned : {false, true}) {
      {
        std::fstream file(dir / "big.cbl", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(kMarker);
        file << "WORKINGBIG 1";
      }
      ASSERT_EQ(truncate((dir / "big.cbl").c_str(), kSize), 0);
      const Outcome o =
          RunKorrin({.args = {"out.txt"},
                     .list = "p.lst",
                     .cwd = dir.path(),
                     .env = WithFaults("big.cbl=truncate-after-stat:" + std::to_string(c.cut_to)),
                     .in_child = [pinned] {
                       if (pinned) PinToOneProcessor();
                     }});
      // The size seen at open counts; no error: the file simply ended.
      EXPECT_EQ(o.out, "File processed : big.cbl\n");
      EXPECT_EQ(o.status, 0);
      const ReportContents report = ReadReport(ReadFile(dir / "out.txt"));
      EXPECT_EQ(report.size, 50331648);
      EXPECT_EQ(DetailsNamed(report, "BIG"), c.found) << c.cut_to << (pinned ? " pinned" : "");
    }
  }
}

TEST(Surroundings, TheReportNeverOverwritesTheList) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  const std::string list = "a.cbl\n";
  WriteFile(dir / "p.lst", list);
  ASSERT_EQ(symlink("p.lst", (dir / "link.lst").c_str()), 0);
  ASSERT_EQ(link((dir / "p.lst").c_str(), (dir / "hard.lst").c_str()), 0);
  for (const char* report : {"p.lst", "link.lst", "hard.lst", "./p.lst"}) {
    const Outcome o = RunKorrin({.args = {report}, .list = "p.lst", .cwd = dir.path()});
    EXPECT_EQ(o.status, 4);
    EXPECT_EQ(o.out, std::string("Error opening dest_file : ") + report + "\n");
    EXPECT_EQ(ReadFile(dir / "p.lst"), list);
  }
  // Through the list's link too; another existing file is emptied as ever.
  Outcome o = RunKorrin({.args = {"p.lst"}, .list = "link.lst", .cwd = dir.path()});
  EXPECT_EQ(o.status, 4);
  EXPECT_EQ(ReadFile(dir / "p.lst"), list);
  WriteFile(dir / "out.txt", "an old report");
  o = RunKorrin({.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path()});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(ReadFile(dir / "out.txt").find("an old report"), std::string::npos);
}

}  // namespace
}  // namespace korrin_test
