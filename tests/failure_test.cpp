// SPDX-License-Identifier: MIT
// The report is never lost or silently wrong when the run's surroundings
// fail: closed standard streams, a pipe closed by its reader, resource
// limits, a file cut while it is scanned, a report named like the list. The
// failures of one listed file are rows of black_box_test.cpp.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

const std::string kA = "File processed : a.cbl";

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
  ASSERT_EQ(whole.first.status, 0);
  ASSERT_EQ(whole.first.out, kA + "\n" + kA + "\n");
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

TEST(Surroundings, AFileCutWhileItIsScannedEndsWhereItWasCut) {
  TempDir dir;
  // Large enough to be searched in segments, on two threads or pinned on
  // one; mostly a hole. The cut ends the file where it was cut: a segment
  // past it reads nothing, and that must end only the search, not the run.
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
