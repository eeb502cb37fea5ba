// SPDX-License-Identifier: MIT
// Reading ahead changes nothing but the speed: each list runs on every
// processor and then pinned to one, where korrin reads one line at a time,
// and both runs must leave the same streams, status and report. The open
// log of the fault library shows which thread opened what.
#include "driver/read_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

using korrin::AtTurn;
using korrin::FileError;
using korrin::ListLine;
using korrin::OwnFiles;
using korrin::QueuedLine;
using korrin::ReadAhead;
using korrin::ScanBuffer;

// The opens of a run, one "main PATH" or "worker PATH" a line.
std::vector<std::string> OpenLog(const TempDir& dir) {
  std::vector<std::string> lines;
  std::istringstream log(ReadFile(dir / "opens.log"));
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  unlink((dir / "opens.log").c_str());
  return lines;
}

bool AnyWorker(const std::vector<std::string>& opens) {
  for (const std::string& line : opens) {
    if (line.rfind("worker ", 0) == 0) return true;
  }
  return false;
}

bool OnOneProcessor() {
  cpu_set_t cpus;
  return sched_getaffinity(0, sizeof cpus, &cpus) != 0 || CPU_COUNT(&cpus) < 2;
}

// The list reaches korrin through a pipe, line by line, from a process of
// its own; `between` runs after each line is written.
void FeedList(const std::string& list, const std::function<void(int line)>& between) {
  int ends[2];
  if (pipe(ends) != 0) _exit(126);
  if (fork() == 0) {
    close(ends[0]);
    std::istringstream lines(list);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
      line += '\n';
      if (write(ends[1], line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(1);
      if (between) between(++count);
    }
    _exit(0);
  }
  dup2(ends[0], 0);
  close(ends[0]);
  close(ends[1]);
}

struct ListCase {
  const char* name;
  std::string list = {};
  std::string faults = "none=none";
  bool from_pipe = false;  // LIST=/dev/stdin, fed at once
  // LIST=/dev/stdin, fed line by line; after each line this runs in the
  // feeding process (from the directory of the run)
  std::function<void(int line)> feed_slowly = {};
  bool slow = false;    // long enough for a woken worker to take part, surely
  int descriptors = 0;  // a limit on descriptors, if not 0
  rlim_t stack = 0;     // a limit on the main thread's stack, if not 0
  // Standard output appended to this file of the directory, which starts
  // as `output_starts_as`; compared as the run's output.
  const char* output_file = nullptr;
  std::string output_starts_as = {};
  const char* list_path = "p.lst";         // LIST, when not fed through a pipe
  std::vector<std::string> more_env = {};  // NAME=VALUE for both runs
};

TEST(ReadAhead, SameOutcomeAsOneLineAtATime) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "x.cbl", ProgramWithBlockAt(300000, 290000));
  WriteFile(dir / "bad.cbl", ProgramWithBlockAt(300000, 290000));
  // Dense in markers, and long enough to be searched in segments.
  WriteFile(dir / "dense.cbl",
            Repeat(std::string(57, '.') + "WORKING", (12 << 20) / 64) + "WORKINGX 12345");
  // 77 bytes of progress: 54 lines of it fill the output buffer.
  const std::string long_name = "program-with-a-much-longer-name-for-the-progress-line-0.cbl";
  WriteFile(dir / long_name, kSmallProgram);
  WriteFile(dir / "Threads:\t1", kSmallProgram);
  ASSERT_EQ(symlink("/dev/fd/5", (dir / "fd5.lnk").c_str()), 0);
  mkdir((dir / "sub").c_str(), 0700);
  const std::string long_path = "sub/" + std::string(5000, 'l') + ".cbl";
  const std::string list_of_a = Repeat("a.cbl\n", 180);
  const ListCase cases[] = {
      {.name = "the same files listed again and again",
       .list = Repeat("a.cbl\nx.cbl\na.cbl\nmissing.cbl\n", 150)},
      // The report grows while it is listed; its size counts at its turn.
      // Listed first, it is read at its turn behind a large file.
      {.name = "the report itself",
       .list = "x.cbl\nout.txt\n" + Repeat("a.cbl\n", 120) + "out.txt\n" + Repeat("x.cbl\n", 90) +
               "./out.txt\n" + Repeat("a.cbl\n", 10)},
      {.name = "a list from a pipe", .list = Repeat("a.cbl\nx.cbl\n", 200), .from_pipe = true},
      {.name = "a read error in the list",
       .list = Repeat("a.cbl\nx.cbl\n", 200),
       .faults = "p.lst=read-eio-after:1500"},
      {.name = "paths too long to open", .list = Repeat("a.cbl\n" + long_path + "\nx.cbl\n", 60)},
      {.name = "failures of the machine",
       .list = Repeat("a.cbl\nbad.cbl\nx.cbl\n", 80),
       .faults = "bad.cbl=read-eio-after:100000;x.cbl=read-max:5000"},
      {.name = "open failures",
       .list = Repeat("bad.cbl\na.cbl\n", 100),
       .faults = "bad.cbl=open-eio"},
      {.name = "slow reads",
       .list = Repeat("x.cbl\na.cbl\n", 100),
       .faults = "x.cbl=read-max:1000",
       .slow = true},
      // 0, 1, 2, the report, the list and one program: a worker's descriptor
      // is one too many, and the line is opened again at its turn. (The open
      // log has no descriptor left either.)
      {.name = "one descriptor to spare",
       .list = Repeat("x.cbl\na.cbl\n", 100),
       .faults = "x.cbl=read-max:1000",
       .descriptors = 6},
      {.name = "a large file dense in markers", .list = "a.cbl\ndense.cbl\na.cbl\ndense.cbl\n"},
      // Standard output is read as it stands at its turn: the first 4096
      // bytes of progress are written out at the 54th line, and the size of
      // out.log at the 57th is theirs, though the slow first line leaves
      // time to read it long before.
      {.name = "standard output listed",
       .list = "dense.cbl\n" + Repeat(long_name + "\n", 55) + "out.log\n" + Repeat("a.cbl\n", 100) +
               "out.log\n",
       .output_file = "out.log"},
      // Each progress line written out becomes a line of the list.
      {.name = "standard output appended to the list",
       .list = list_of_a,
       .output_file = "p.lst",
       .output_starts_as = list_of_a},
      // Paths whose meaning depends on the process reading them: descriptors
      // 3 and 4 are the report and the list, 5 and on would be a worker's.
      {.name = "process files",
       .list = Repeat("x.cbl\n/dev/fd/5\n/dev/fd/6\n/dev/fd/4\n/proc/self/status\n"
                      "/proc/thread-self/maps\n/dev/stdin\n/proc/self/fd/3\na.cbl\n",
                      20)},
      // The second file is gone once the third line comes: a line that has
      // come is read before the list is waited for, the workers asleep.
      {.name = "a list fed slowly",
       .list = "a.cbl\ngone.cbl\nx.cbl\na.cbl\n",
       .feed_slowly =
           [](int line) {
             if (line > 2) return;
             usleep(300000);
             if (line == 2) unlink("gone.cbl");
           }},
      {.name = "a small stack", .list = Repeat("a.cbl\nx.cbl\n", 50), .stack = 128 << 10},
      // The list itself describes the reading process: its "Threads:" line
      // names a file only when the process has one thread.
      {.name = "the list a /proc file", .list_path = "/proc/self/status"},
      // Without openat2 a worker cannot tell a link to a descriptor from
      // another file: korrin reads one line at a time.
      {.name = "no openat2",
       .list = Repeat("x.cbl\nfd5.lnk\n", 60),
       .more_env = {"KORRIN_NO_OPENAT2=1"}},
  };
  for (const ListCase& c : cases) {
    if (c.descriptors > 0 && (UnderValgrind() || SanitizedBuild())) continue;
    if (c.stack > 0 && SanitizedBuild()) continue;
    WriteFile(dir / "p.lst", c.list);
    std::vector<std::string> env = WithFaults(c.faults);
    env.push_back("KORRIN_OPEN_LOG=" + (dir / "opens.log"));
    env.insert(env.end(), c.more_env.begin(), c.more_env.end());
    const bool from_stdin = c.from_pipe || c.feed_slowly;
    auto run = [&](bool pinned) {
      unlink((dir / "out.txt").c_str());
      WriteFile(dir / "gone.cbl", kSmallProgram);
      if (c.output_file != nullptr) WriteFile(dir / c.output_file, c.output_starts_as);
      if (c.output_file != nullptr && std::string(c.output_file) != "p.lst") {
        WriteFile(dir / "p.lst", c.list);
      }
      Outcome o = RunKorrin({.args = {"out.txt"},
                             .list = from_stdin ? "/dev/stdin" : c.list_path,
                             .cwd = dir.path(),
                             .env = env,
                             .in_child = [&c, pinned, from_stdin] {
                               if (pinned) PinToOneProcessor();
                               if (c.descriptors > 0) Limit(RLIMIT_NOFILE, rlim_t(c.descriptors));
                               if (c.stack > 0) Limit(RLIMIT_STACK, c.stack);
                               if (c.output_file != nullptr) {
                                 const int out = open(c.output_file, O_WRONLY | O_APPEND);
                                 if (out < 0 || dup2(out, 1) != 1) _exit(126);
                                 close(out);
                               }
                               if (from_stdin) FeedList(c.list, c.feed_slowly);
                             }});
      if (c.output_file != nullptr) o.out = ReadFile(dir / c.output_file);
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
    EXPECT_GE(pinned.status, 0) << c.name;  // neither killed nor timed out
    EXPECT_FALSE(AnyWorker(pinned_opens)) << c.name;
    if (!c.more_env.empty()) {
      EXPECT_FALSE(AnyWorker(spread_opens)) << c.name;
    }
    if (c.slow && !OnOneProcessor() && !UnderValgrind() && korrin::CanRefuseProcessFiles()) {
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

// However many files and markers, a run starts no more threads than the
// workers it may have.
TEST(ReadAhead, ThreadsDoNotGrowWithFilesOrMarkers) {
  TempDir dir;
  // Mostly holes, large enough to be searched in segments; then dense in
  // markers, each a window without the name.
  WriteFile(dir / "large.cbl", "");
  ASSERT_EQ(truncate((dir / "large.cbl").c_str(), off_t{16} << 20), 0);
  WriteFile(dir / "dense.cbl", Repeat(std::string(57, '.') + "WORKING", (8 << 20) / 64));
  WriteFile(dir / "p.lst", Repeat("large.cbl\n", 40) + "dense.cbl\n");
  const Outcome o = RunKorrin({.args = {"out.txt"},
                               .list = "p.lst",
                               .cwd = dir.path(),
                               .env = {"KORRIN_OPEN_LOG=" + (dir / "opens.log"),
                                       std::string("LD_PRELOAD=") + KORRIN_FAULT_SHIM,
                                       "ASAN_OPTIONS=verify_asan_link_order=0"}});
  EXPECT_EQ(o.status, 0);
  const std::vector<std::string> log = OpenLog(dir);
  EXPECT_LE(std::count(log.begin(), log.end(), "thread"), 16);
}

// The engine in this process, with one worker whatever the machine: `paths`
// are queued and published at once, the worker is given `head_start`
// seconds to claim what it will, then every line is taken.
struct TakenLine {
  AtTurn at_turn;
  korrin::ProgramScan scan;
};
std::vector<TakenLine> TakeAll(const std::vector<std::string>& paths, const OwnFiles& own,
                               double head_start = 0) {
  struct Memory {
    ScanBuffer buffer;
    QueuedLine two_slots[2];
  };
  const auto memory = std::make_unique<Memory>();
  ReadAhead ahead({.workers = 1, .large_files = {}}, own, memory->buffer, memory->two_slots);
  for (const std::string& path : paths) ahead.Add(ListLine{.text = path});
  ahead.Publish(true);
  if (head_start > 0) usleep(static_cast<useconds_t>(head_start * 1e6));
  std::vector<TakenLine> taken;
  for (size_t k = 0; k < paths.size(); ++k) {
    const QueuedLine& line = ahead.TakeOldest();
    taken.push_back({line.at_turn, line.scan});
  }
  return taken;
}

const char* const kNoOpenat2 =
    "no openat2 here (qemu-user 7.2 has none): korrin reads one line at a time";

// The lowest descriptor free now: the next one a file opens.
int NextDescriptor() {
  const int fd = dup(0);
  close(fd);
  return fd;
}

// Whichever thread reads a line, the same lines are left for their turn:
// the files the run writes, and those whose meaning depends on the reader.
TEST(ReadAhead, WhatIsLeftForItsTurn) {
  if (!korrin::CanRefuseProcessFiles()) GTEST_SKIP() << kNoOpenat2;
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "report.txt", "written by the run");
  struct stat st;
  ASSERT_EQ(stat((dir / "report.txt").c_str(), &st), 0);
  OwnFiles own;
  own.Add(korrin::IdentityOf(st));
  // A loop of links and a socket are only the path's own failures.
  ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {.sun_family = AF_UNIX, .sun_path = {}};
  (dir / "socket").copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const int held = open((dir / "a.cbl").c_str(), O_RDONLY);
  // A line read alone stops the workers; the lines after it are read at
  // their turn, as they come: it comes last.
  const std::vector<TakenLine> taken =
      TakeAll({dir / "a.cbl", dir / "report.txt", dir / "missing.cbl", dir.path(), dir / "loop",
               dir / "socket", "/dev/fd/" + std::to_string(held)},
              own);
  close(held);
  close(sock);
  const AtTurn expected[] = {AtTurn::Nothing, AtTurn::Read,    AtTurn::Nothing,  AtTurn::Nothing,
                             AtTurn::Nothing, AtTurn::Nothing, AtTurn::ReadAlone};
  for (size_t k = 0; k < taken.size(); ++k) EXPECT_EQ(taken[k].at_turn, expected[k]) << k;
  EXPECT_EQ(TakeAll({"/proc/self/status"}, own)[0].at_turn, AtTurn::ReadAlone);
  // Read at their turn all the same.
  EXPECT_TRUE(taken[1].scan.opened);
  EXPECT_EQ(taken[1].scan.size, 18);
  EXPECT_TRUE(taken[6].scan.opened);
  EXPECT_EQ(taken[6].scan.size, 267);
}

// A file large enough to keep a thread, and its descriptor, busy a while:
// holes, searched in segments.
std::string LargeFile(const TempDir& dir) {
  WriteFile(dir / "large.cbl", "");
  if (truncate((dir / "large.cbl").c_str(), off_t{2} << 30) != 0) return "";
  return dir / "large.cbl";
}

// An open that fails for want of descriptors while the worker holds the only
// one left is tried again at its turn: the run's thread fails to open a.cbl
// while the worker reads the large file, and opens it once that is done.
TEST(ReadAhead, AnOpenShortOfDescriptorsIsRetriedAtItsTurn) {
  if (UnderValgrind() || SanitizedBuild()) {
    GTEST_SKIP() << "the sanitizers and valgrind use descriptors of their own";
  }
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  const std::string large = LargeFile(dir);
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const rlimit one_left{rlim_t(NextDescriptor() + 1), saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one_left), 0);
  const std::vector<TakenLine> taken = TakeAll({large, dir / "a.cbl"}, OwnFiles(), 0.02);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(taken[1].at_turn, AtTurn::ReadAlone);
  EXPECT_TRUE(taken[1].scan.opened);
  EXPECT_EQ(taken[1].scan.error, FileError::None);
  EXPECT_TRUE(taken[1].scan.record.found);
}

// A line that has come through a slow list is announced at once, not when
// more lines come: korrin neither waits for the list with lines to report
// nor keeps their progress in its buffer meanwhile.
TEST(ReadAhead, ALineThatHasComeIsReportedWithoutWaitingForTheNext) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  for (const bool pinned : {false, true}) {
    const Outcome o = RunKorrin(
        {.args = {"out.txt"}, .list = "/dev/stdin", .cwd = dir.path(), .in_child = [pinned] {
           if (pinned) PinToOneProcessor();
           FeedList("a.cbl\na.cbl\n", [](int line) {
             if (line == 1) sleep(3);
           });
         }});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, Repeat("File processed : a.cbl\n", 2));
    EXPECT_GE(o.first_output_seconds, 0);
    EXPECT_LT(o.first_output_seconds, 1) << (pinned ? "pinned" : "spread");
  }
}

}  // namespace
}  // namespace korrin_test
