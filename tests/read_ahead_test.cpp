// SPDX-License-Identifier: MIT
// Reading ahead changes nothing but the speed: each list runs on every
// processor and then pinned to one, where korrin reads one line at a time,
// and both runs must leave the same streams, status and report. The open
// log of the fault library shows which thread opened what.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

// The opens of a run, one "main PATH" or "worker PATH" a line.
std::vector<std::string> OpenLog(const TempDir& dir) {
  std::vector<std::string> lines;
  std::istringstream log(ReadFile(dir / "opens.log"));
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  unlink((dir / "opens.log").c_str());
  return lines;
}

struct ListCase {
  const char* name;
  std::string list;
  std::string faults = "none=none";
  bool from_pipe = false;
  bool slow = false;    // long enough for a woken worker to take part, surely
  int descriptors = 0;  // a limit on descriptors, if not 0
};

bool AnyWorker(const std::vector<std::string>& opens) {
  for (const std::string& line : opens) {
    if (line.rfind("worker ", 0) == 0) return true;
  }
  return false;
}

TEST(ReadAhead, SameOutcomeAsOneLineAtATime) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "x.cbl", ProgramWithBlockAt(300000, 290000));
  WriteFile(dir / "bad.cbl", ProgramWithBlockAt(300000, 290000));
  mkdir((dir / "sub").c_str(), 0700);
  const std::string long_path = "sub/" + std::string(5000, 'l') + ".cbl";
  const ListCase cases[] = {
      {"the same files listed again and again", Repeat("a.cbl\nx.cbl\na.cbl\nmissing.cbl\n", 150)},
      // The report grows while it is listed; its size counts at its turn.
      {"the report itself", Repeat("a.cbl\n", 120) + "out.txt\n" + Repeat("x.cbl\n", 90) +
                                "./out.txt\n" + Repeat("a.cbl\n", 10)},
      {"a list from a pipe", Repeat("a.cbl\nx.cbl\n", 200), "none=none", true},
      {"a read error in the list", Repeat("a.cbl\nx.cbl\n", 200), "p.lst=read-eio-after:1500"},
      {"paths too long to queue", Repeat("a.cbl\n" + long_path + "\nx.cbl\n", 60)},
      {"failures of the machine", Repeat("a.cbl\nbad.cbl\nx.cbl\n", 80),
       "bad.cbl=read-eio-after:100000;x.cbl=read-max:5000"},
      {"open failures", Repeat("bad.cbl\na.cbl\n", 100), "bad.cbl=open-eio"},
      {"slow reads", Repeat("x.cbl\na.cbl\n", 100), "x.cbl=read-max:1000", false, true},
      // 0, 1, 2, the report, the list and one program: a worker's descriptor
      // is one too many, and the line is opened again at its turn. (The open
      // log has no descriptor left either.)
      {"one descriptor to spare", Repeat("x.cbl\na.cbl\n", 100), "x.cbl=read-max:1000", false,
       false, 6},
  };
  for (const ListCase& c : cases) {
    if (c.descriptors > 0 && (UnderValgrind() || SanitizedBuild())) continue;
    WriteFile(dir / "p.lst", c.list);
    std::vector<std::string> env = WithFaults(c.faults);
    env.push_back("KORRIN_OPEN_LOG=" + (dir / "opens.log"));
    auto run = [&](bool pinned) {
      unlink((dir / "out.txt").c_str());
      const std::string list = c.list;
      const Outcome o = RunKorrin(
          {.args = {"out.txt"},
           .list = c.from_pipe ? "/dev/stdin" : "p.lst",
           .cwd = dir.path(),
           .env = env,
           .in_child = [pinned, from_pipe = c.from_pipe, list, descriptors = c.descriptors] {
             if (pinned) PinToOneProcessor();
             if (descriptors > 0) {
               const rlimit limit{rlim_t(descriptors), rlim_t(descriptors)};
               if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(126);
             }
             if (!from_pipe) return;
             int ends[2];
             if (pipe(ends) != 0) _exit(126);
             if (fork() == 0) {  // the writer of the list
               close(ends[0]);
               const ssize_t written = write(ends[1], list.data(), list.size());
               _exit(written == static_cast<ssize_t>(list.size()) ? 0 : 1);
             }
             dup2(ends[0], 0);
             close(ends[0]);
             close(ends[1]);
           }});
      return std::make_pair(o, ReadFile(dir / "out.txt"));
    };
    const auto [pinned, pinned_report] = run(true);
    const std::vector<std::string> pinned_opens = OpenLog(dir);
    const auto [spread, spread_report] = run(false);
    const std::vector<std::string> spread_opens = OpenLog(dir);
    EXPECT_EQ(spread.out, pinned.out) << c.name;
    EXPECT_EQ(spread.err, pinned.err) << c.name;
    EXPECT_EQ(spread.status, pinned.status) << c.name;
    EXPECT_EQ(spread_report, pinned_report) << c.name;
    EXPECT_FALSE(AnyWorker(pinned_opens)) << c.name;
    cpu_set_t cpus;
    if (c.slow && sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1 &&
        !UnderValgrind()) {
      EXPECT_TRUE(AnyWorker(spread_opens)) << c.name;
    }
  }
}

TEST(ReadAhead, OneProcessorReadsEachLineInListOrder) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "p.lst", "a.cbl\nmissing\nsub/a.cbl\na.cbl\n");
  const Outcome o = RunKorrin({.args = {"out.txt"},
                               .list = "p.lst",
                               .cwd = dir.path(),
                               .env = {"KORRIN_OPEN_LOG=" + (dir / "opens.log"),
                                       std::string("LD_PRELOAD=") + KORRIN_FAULT_SHIM,
                                       "ASAN_OPTIONS=verify_asan_link_order=0"},
                               .in_child = PinToOneProcessor});
  EXPECT_EQ(o.status, 0);
  std::vector<std::string> opens = OpenLog(dir);
  // Whatever the libraries open first, the program files come one by one, in
  // list order, on the main thread.
  while (!opens.empty() && opens.front() != "main a.cbl") opens.erase(opens.begin());
  EXPECT_EQ(opens, (std::vector<std::string>{"main a.cbl", "main missing", "main sub/a.cbl",
                                             "main a.cbl"}));
}

}  // namespace
}  // namespace korrin_test
