// SPDX-License-Identifier: MIT
// Reading ahead changes nothing but the speed. Each list of the table runs
// on every processor and then pinned to one, where korrin reads one line at
// a time, and both runs must leave the same streams, status and report; the
// open log of the fault library shows which thread opened what. Then the
// engine in this process, with a line reader of the tests' own that orders
// the threads, and what an open ahead leaves for its turn.
#include "driver/read_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

using korrin::LineState;
using korrin::ListLine;
using korrin::OwnFiles;
using korrin::QueuedLine;
using korrin::ReadAhead;
using korrin::ScanBuffer;

// The opens of a run, one "main PATH" or "worker PATH" a line.
std::vector<std::string> OpenLog(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream log(ReadFile(path));
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  unlink(path.c_str());
  return lines;
}

bool AnyWorker(const std::vector<std::string>& opens) {
  return std::any_of(opens.begin(), opens.end(),
                     [](const std::string& line) { return line.starts_with("worker "); });
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

// A process beside korrin that waits to write to the FIFO "fifo" and, once
// korrin opens it, cuts "X.victim", as a writer released by the open
// might change what it has written.
void WriterReleasedByTheFifo() {
  if (fork() != 0) return;
  // It holds no pipe of the test's, so korrin's end is seen whether or not
  // it was released.
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
  close_range(3, ~0U, 0);
  const int fifo = open("fifo", O_WRONLY);  // until a reader opens it
  if (truncate("X.victim", 0) != 0) _exit(1);
  close(fifo);
  _exit(0);
}

// A process beside korrin that holds a write lease on "leased.cbl", as a
// Samba or NFS server may, and gives it up 20 ms after korrin's open breaks
// it (or after 10 s). With `rewrites_later`, it first renames "later.new"
// over "later.cbl", as a server that flushes its clients' writes when asked
// to let go. Returns once the lease is held.
void LeaseHolder(bool rewrites_later) {
  int ready[2];
  if (pipe(ready) != 0) _exit(126);
  if (fork() == 0) {
    sigset_t io;
    sigemptyset(&io);
    sigaddset(&io, SIGIO);
    sigprocmask(SIG_BLOCK, &io, nullptr);
    const int fd = open("leased.cbl", O_RDONLY);
    if (fd < 0 || dup2(fd, 3) != 3 || dup2(ready[1], 4) != 4) _exit(1);
    close_range(5, ~0U, 0);  // no pipe of the test's: korrin's end is seen
    if (fcntl(3, F_SETLEASE, F_WRLCK) != 0 || write(4, "x", 1) != 1) _exit(1);
    close(4);
    const timespec limit = {10, 0};
    if (sigtimedwait(&io, nullptr, &limit) > 0) {
      usleep(20000);
      if (rewrites_later && rename("later.new", "later.cbl") != 0) _exit(1);
    }
    fcntl(3, F_SETLEASE, F_UNLCK);
    _exit(0);
  }
  close(ready[1]);
  char byte;
  if (read(ready[0], &byte, 1) != 1) _exit(126);
  close(ready[0]);
}

// A cgroup of its own under one of this process's, which korrin moves into:
// its file of tasks lists korrin's threads. Empty where none can be made.
std::string MakeOwnCgroup() {
  std::ifstream cgroups("/proc/self/cgroup");
  for (std::string line; std::getline(cgroups, line);) {
    const size_t colon = line.find(':');
    const size_t path_at = line.find(':', colon + 1);
    const std::string controllers = line.substr(colon + 1, path_at - colon - 1);
    const std::string path = line.substr(path_at + 1);
    const std::string controller = controllers.substr(0, controllers.find(','));
    for (const std::string& base :
         controller.empty() ? std::vector<std::string>{"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}
                            : std::vector<std::string>{"/sys/fs/cgroup/" + controller}) {
      std::string dir =
          base + (path == "/" ? "" : path) + "/korrin-test-" + std::to_string(getpid());
      if (mkdir(dir.c_str(), 0755) == 0) return dir;
    }
  }
  return "";
}

std::string TasksOf(const std::string& cgroup) {
  return Exists(cgroup + "/tasks") ? cgroup + "/tasks" : cgroup + "/cgroup.threads";
}

struct ListCase {
  const char* name;
  std::string list = {};
  std::string faults = "none=none";
  bool from_pipe = false;  // LIST=/dev/stdin, fed at once
  // LIST=/dev/stdin, fed line by line; after each line this runs in the
  // feeding process (from the directory of the run)
  std::function<void(int line)> feed_slowly = {};
  int descriptors = 0;  // a limit on descriptors, if not 0
  rlim_t stack = 0;     // a limit on the main thread's stack, if not 0
  // Standard output appended to this file of the directory, which starts
  // as `output_starts_as`; compared as the run's output.
  const char* output_file = nullptr;
  std::string output_starts_as = {};
  const char* list_path = "p.lst";         // LIST, when not fed through a pipe
  std::vector<std::string> more_env = {};  // NAME=VALUE for both runs
  bool list_is_own_cgroup = false;         // LIST: the tasks of korrin's own cgroup
  bool fifo_writer = false;                // WriterReleasedByTheFifo beside korrin
  bool lease_holder = false;               // LeaseHolder beside korrin
  bool lease_rewrites_later = false;       // and it rewrites later.cbl before it lets go
  std::string out = {};                    // what both runs must print, when not empty
  // Why no worker can be seen to take part, when none can: every other row
  // must show a worker's open in the open log.
  const char* no_worker_because = nullptr;
};

void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.name;
}

// 77 bytes of progress: 54 lines of it fill the output buffer.
const std::string kLongName = "program-with-a-much-longer-name-for-the-progress-line-0.cbl";
const std::string kLongPath = "sub/" + std::string(5000, 'l') + ".cbl";
const std::string kListOfA = Repeat("a.cbl\n", 180);

const ListCase kCases[] = {
    {.name = "TheSameFilesListedAgainAndAgain",
     .list = Repeat("a.cbl\nx.cbl\na.cbl\nmissing.cbl\n", 150)},
    // The report grows while it is listed; its size counts when its turn comes.
    // Listed first, it is read when its turn comes behind a large file.
    {.name = "TheReportItself",
     .list = "x.cbl\nout.txt\n" + Repeat("a.cbl\n", 120) + "out.txt\n" + Repeat("x.cbl\n", 90) +
             "./out.txt\n" + Repeat("a.cbl\n", 10)},
    {.name = "AListFromAPipe", .list = Repeat("a.cbl\nx.cbl\n", 200), .from_pipe = true},
    {.name = "AReadErrorInTheList",
     .list = Repeat("a.cbl\nx.cbl\n", 200),
     .faults = "p.lst=read-eio-after:1500"},
    {.name = "PathsTooLongToOpen", .list = Repeat("a.cbl\n" + kLongPath + "\nx.cbl\n", 60)},
    {.name = "FailuresOfTheMachine",
     .list = Repeat("a.cbl\nbad.cbl\nx.cbl\n", 80),
     .faults = "bad.cbl=read-eio-after:100000;x.cbl=read-max:5000"},
    {.name = "OpenFailures", .list = Repeat("bad.cbl\na.cbl\n", 100), .faults = "bad.cbl=open-eio"},
    {.name = "SlowReads", .list = Repeat("x.cbl\na.cbl\n", 100), .faults = "x.cbl=read-max:1000"},
    // 0, 1, 2, the report, the list and one program: a worker's descriptor
    // is one too many, and the line is opened again when its turn comes. (The open
    // log has no descriptor left either.)
    {.name = "OneDescriptorToSpare",
     .list = Repeat("x.cbl\na.cbl\n", 100),
     .faults = "x.cbl=read-max:1000",
     .descriptors = 6,
     .no_worker_because = "the open log has no descriptor left to note a worker's open"},
    // The report is opened when its turn comes, maybe while a worker holds the
    // descriptor left.
    {.name = "TheReportAtItsTurnWithOneDescriptorToSpare",
     .list = Repeat("a.cbl\nout.txt\n", 400),
     .descriptors = 6,
     .no_worker_because = "the open log has no descriptor left to note a worker's open"},
    {.name = "ALargeFileDenseInMarkers", .list = "a.cbl\ndense.cbl\na.cbl\ndense.cbl\n"},
    // Standard output is read as it stands when its turn comes: the first 4096
    // bytes of progress are written out at the 54th line, and the size of
    // out.log at the 57th is theirs, though the slow first line leaves
    // time to read it long before.
    {.name = "StandardOutputListed",
     .list = "dense.cbl\n" + Repeat(kLongName + "\n", 55) + "out.log\n" + Repeat("a.cbl\n", 100) +
             "out.log\n",
     .output_file = "out.log"},
    // Each progress line written out becomes a line of the list.
    {.name = "StandardOutputAppendedToTheList",
     .list = kListOfA,
     .output_file = "p.lst",
     .output_starts_as = kListOfA,
     .no_worker_because = "standard output is the list: korrin reads one line at a time"},
    // Paths whose meaning depends on the process reading them: descriptors
    // 3 and 4 are the report and the list, 5 and on would be a worker's.
    // The first file is read slowly: the workers reach the lines after it
    // before the fourth, the list, stops them.
    {.name = "ProcessFiles",
     .list = Repeat("x.cbl\n/dev/fd/5\n/dev/fd/6\n/dev/fd/4\n/proc/self/status\n"
                    "/proc/thread-self/maps\n/dev/stdin\n/proc/self/fd/3\na.cbl\n",
                    20),
     .faults = "x.cbl=read-max:1000"},
    // The second file is gone once the third line comes: a line that has
    // come is read before the list is waited for, the workers asleep.
    {.name = "AListFedSlowly",
     .list = "a.cbl\ngone.cbl\nx.cbl\na.cbl\n",
     .feed_slowly =
         [](int line) {
           if (line > 2) return;
           usleep(300000);
           if (line == 2) unlink("gone.cbl");
         },
     .no_worker_because = "each line comes alone, and the main thread reads a line alone"},
    {.name = "ASmallStack", .list = Repeat("a.cbl\nx.cbl\n", 50), .stack = 128 << 10},
    // The list itself describes the reading process: its "Threads:" line
    // names a file only when the process has one thread.
    {.name = "TheListAProcFile",
     .list_path = "/proc/self/status",
     .no_worker_because = "a list of /proc is read one line at a time"},
    // A cgroup's tasks are korrin's own threads: one, as a run of one line
    // at a time has.
    {.name = "TheListACgroupFile",
     .list_is_own_cgroup = true,
     .no_worker_because = "a list of a cgroup file system is read one line at a time"},
    // The FIFO is opened only when its turn comes, once the large victim before it
    // is read whole; opened ahead, it would let the writer cut the victim
    // while it is read.
    {.name = "AFifoIsOpenedOnlyAtItsTurn",
     .list = "a.cbl\nX.victim\nfifo\n" + Repeat("a.cbl\n", 20),
     .fifo_writer = true},
    // A file under a lease is read, by both runs, once the lease is
    // broken: never passed over. The first file is read slowly, so that the
    // workers meet the lease before its turn.
    {.name = "ALeasedFile",
     .list = "x.cbl\nleased.cbl\ndense.cbl\nleased.cbl\n" + Repeat("a.cbl\n", 20),
     .faults = "x.cbl=read-max:1000",
     .lease_holder = true,
     .out = "File processed : x.cbl\nFile processed : leased.cbl\nFile processed : dense.cbl\n"
            "File processed : leased.cbl\n" +
            Repeat("File processed : a.cbl\n", 20)},
    // The holder of a lease, once asked to let go, changes a file listed
    // after the leased one: a run of one line at a time reads that file only
    // after the lease is given up, so it reads what the holder wrote.
    {.name = "ALeaseHolderThatRewritesALaterFile",
     .list = "x.cbl\nleased.cbl\nlater.cbl\n" + Repeat("a.cbl\n", 20),
     .faults = "x.cbl=read-max:1000",
     .lease_holder = true,
     .lease_rewrites_later = true},
    // Without openat2 a worker cannot tell a link to a descriptor from
    // another file: korrin reads one line at a time.
    {.name = "NoOpenat2",
     .list = Repeat("x.cbl\nfd5.lnk\n", 60),
     .more_env = {"KORRIN_NO_OPENAT2=1"},
     .no_worker_because = "without openat2 korrin reads one line at a time"},
};

class SameOutcome : public testing::TestWithParam<ListCase> {
 protected:
  // The programs every row lists, written once.
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const TempDir& dir = *dir_;
    WriteFile(dir / "a.cbl", kSmallProgram);
    WriteFile(dir / "x.cbl", ProgramWithBlockAt(300000, 290000));
    WriteFile(dir / "bad.cbl", ProgramWithBlockAt(300000, 290000));
    // Dense in markers, and long enough to be searched in segments.
    WriteFile(dir / "dense.cbl",
              Repeat(std::string(57, '.') + "WORKING", (12 << 20) / 64) + "WORKINGX 12345");
    WriteFile(dir / kLongName, kSmallProgram);
    WriteFile(dir / "Threads:\t1", kSmallProgram);
    WriteFile(dir / "leased.cbl", std::string(250, '.') + "WORKINGLEASED 1");
    ASSERT_EQ(symlink("/dev/fd/5", (dir / "fd5.lnk").c_str()), 0);
    mkfifo((dir / "fifo").c_str(), 0600);
    mkdir((dir / "sub").c_str(), 0700);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempDir* dir_;
};
TempDir* SameOutcome::dir_ = nullptr;

TEST_P(SameOutcome, AsOneLineAtATime) {
  const ListCase& c = GetParam();
  if (c.descriptors > 0 && (UnderValgrind() || SanitizedBuild())) {
    GTEST_SKIP() << "the sanitizers and valgrind use descriptors of their own";
  }
  if (c.stack > 0 && SanitizedBuild()) GTEST_SKIP() << "the sanitizers need a larger stack";
  const TempDir& dir = *dir_;
  std::string cgroup;
  if (c.list_is_own_cgroup) {
    cgroup = MakeOwnCgroup();
    if (cgroup.empty()) GTEST_SKIP() << "no cgroup of its own can be made here";
  }
  const std::string list_path = c.list_is_own_cgroup ? TasksOf(cgroup) : c.list_path;
  const std::string open_log = dir / (std::string(c.name) + ".log");
  std::vector<std::string> env = WithFaults(c.faults);
  env.push_back("KORRIN_OPEN_LOG=" + open_log);
  env.insert(env.end(), c.more_env.begin(), c.more_env.end());
  const bool from_stdin = c.from_pipe || c.feed_slowly;
  auto run = [&](bool pinned) {
    unlink((dir / "out.txt").c_str());
    WriteFile(dir / "p.lst", c.list);
    WriteFile(dir / "gone.cbl", kSmallProgram);
    WriteFile(dir / "X.victim", ProgramWithBlockAt(24 << 20, (24 << 20) - 100));
    WriteFile(dir / "later.cbl", std::string(250, '.') + "WORKINGLATER " + std::string(60, '1'));
    WriteFile(dir / "later.new", std::string(250, '.') + "WORKINGLATER " + std::string(60, '2'));
    if (c.output_file != nullptr) WriteFile(dir / c.output_file, c.output_starts_as);
    Outcome o = RunKorrin({.args = {"out.txt"},
                           .list = from_stdin ? "/dev/stdin" : list_path,
                           .cwd = dir.path(),
                           .env = env,
                           .in_child = [&c, &cgroup, pinned, from_stdin] {
                             if (pinned) PinToOneProcessor();
                             if (!cgroup.empty()) WriteFile(cgroup + "/cgroup.procs", "0\n");
                             if (c.descriptors > 0) Limit(RLIMIT_NOFILE, rlim_t(c.descriptors));
                             if (c.stack > 0) Limit(RLIMIT_STACK, c.stack);
                             if (c.output_file != nullptr) {
                               const int out = open(c.output_file, O_WRONLY | O_APPEND);
                               if (out < 0 || dup2(out, 1) != 1) _exit(126);
                               close(out);
                             }
                             if (from_stdin) FeedList(c.list, c.feed_slowly);
                             if (c.fifo_writer) WriterReleasedByTheFifo();
                             if (c.lease_holder) LeaseHolder(c.lease_rewrites_later);
                           }});
    if (c.output_file != nullptr) o.out = ReadFile(dir / c.output_file);
    // A writer that korrin never released is released now.
    if (c.fifo_writer) close(open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK));
    return std::make_pair(o, ReadFile(dir / "out.txt"));
  };
  const auto [pinned, pinned_report] = run(true);
  const std::vector<std::string> pinned_opens = OpenLog(open_log);
  const bool wants_a_worker = c.no_worker_because == nullptr && !OnOneProcessor() &&
                              !UnderValgrind() && korrin::CanRefuseProcessLinks();
  auto [spread, spread_report] = run(false);
  std::vector<std::string> spread_opens = OpenLog(open_log);
  // On a loaded machine the main thread may read every line before a
  // woken worker is scheduled: the row is run again until one took part.
  for (int tries = 1; wants_a_worker && !AnyWorker(spread_opens) && tries < 10; ++tries) {
    std::tie(spread, spread_report) = run(false);
    spread_opens = OpenLog(open_log);
  }
  if (!cgroup.empty()) rmdir(cgroup.c_str());
  EXPECT_EQ(spread.out, pinned.out);
  EXPECT_EQ(spread.err, pinned.err);
  EXPECT_EQ(spread.status, pinned.status);
  EXPECT_EQ(spread_report, pinned_report);
  EXPECT_GE(pinned.status, 0);  // neither killed nor timed out
  if (!c.out.empty()) {
    EXPECT_EQ(pinned.out, c.out);
  }
  EXPECT_FALSE(AnyWorker(pinned_opens));
  if (!c.more_env.empty()) {
    EXPECT_FALSE(AnyWorker(spread_opens));
  }
  if (wants_a_worker) {
    EXPECT_TRUE(AnyWorker(spread_opens)) << "no worker opened a listed file";
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, SameOutcome, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ListCase>& info) {
                           return info.param.name;
                         });

// A run of korrin on p.lst in `dir` with the fault library's open log:
// its lines.
std::vector<std::string> OpensOfARun(const TempDir& dir, const std::function<void()>& in_child) {
  std::vector<std::string> env = WithFaults("none=none");
  env.push_back("KORRIN_OPEN_LOG=" + (dir / "opens.log"));
  const Outcome o = RunKorrin(
      {.args = {"out.txt"}, .list = "p.lst", .cwd = dir.path(), .env = env, .in_child = in_child});
  EXPECT_EQ(o.status, 0);
  return OpenLog(dir / "opens.log");
}

TEST(ReadAhead, OneProcessorReadsEachLineInListOrder) {
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "p.lst", "a.cbl\nmissing\nsub/a.cbl\na.cbl\n");
  std::vector<std::string> opens = OpensOfARun(dir, PinToOneProcessor);
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
  // Mostly holes, large enough to be searched far ahead; then dense in
  // markers, each a window without the name.
  WriteFile(dir / "large.cbl", "");
  ASSERT_EQ(truncate((dir / "large.cbl").c_str(), off_t{16} << 20), 0);
  WriteFile(dir / "dense.cbl", Repeat(std::string(57, '.') + "WORKING", (8 << 20) / 64));
  WriteFile(dir / "p.lst", Repeat("large.cbl\n", 40) + "dense.cbl\n");
  const std::vector<std::string> log = OpensOfARun(dir, {});
  EXPECT_LE(std::count(log.begin(), log.end(), "thread"), 16);
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

// The engine in this process, with one worker and the line reading below:
// each line's path is its number; the script of a test decides what each
// line gives and how long it takes.
// A line's file as the script reads it, and where the line stands after.
struct LineRead {
  korrin::ProgramScan scan;
  LineState state = LineState::Read;
};

struct Script {
  std::function<LineRead(int line, bool ahead)> read;
  std::atomic<int> inside_ahead{0};  // reads ahead under way, on any thread
  std::atomic<int> ahead_reads{0};
};
Script* script = nullptr;

LineState ScriptedAhead(korrin::LineReader&, QueuedLine& line) {
  ++script->inside_ahead, ++script->ahead_reads;
  const LineRead read = script->read(std::stoi(line.path), true);
  --script->inside_ahead;
  line.scan = read.scan;
  return read.state;
}

LineState ScriptedAtItsTurn(korrin::LineReader&, QueuedLine& line) {
  const LineRead read = script->read(std::stoi(line.path), false);
  line.scan = read.scan;
  return read.state;
}

// Every line taken, in order; each scan's size tells the line it is. The
// blocks read from a disk are counted by `blocks_read`.
std::vector<LineRead> TakeAll(int lines, long (*blocks_read)() = korrin::BlocksReadFromDisk) {
  struct Memory {
    ScanBuffer buffer;
  };
  const auto memory = std::make_unique<Memory>();
  ReadAhead ahead({.workers = 1,
                   .large_files = {},
                   .reading = {.ahead = ScriptedAhead, .at_its_turn = ScriptedAtItsTurn},
                   .blocks_read_from_disk = blocks_read},
                  OwnFiles(), memory->buffer);
  EXPECT_EQ(ahead.mode(), ReadAhead::Mode::LookAhead);
  std::vector<std::string> paths;
  paths.reserve(static_cast<size_t>(lines));
  for (int k = 0; k < lines; ++k) paths.push_back(std::to_string(k));
  std::vector<LineRead> taken;
  size_t added = 0;
  while (taken.size() < paths.size()) {
    for (uint64_t room = ahead.Room(); room > 0 && added < paths.size(); --room) {
      ahead.Add(ListLine{.text = paths[added++]});
    }
    const QueuedLine& line = ahead.TakeOldest(added < paths.size());
    taken.push_back({line.scan, line.state});
  }
  return taken;
}

LineRead ReadAs(int line, LineState state = LineState::Read) {
  LineRead read;
  read.scan.size = 100 + line;
  read.state = state;
  return read;
}

// Waits until `done`, or `limit`.
void AwaitUpTo(const std::atomic<bool>& done, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done && std::chrono::steady_clock::now() < until) usleep(1000);
}

// Line 1 must be read serially: once its turn comes, no worker reads ahead,
// and every later line is read at its turn. Every read ahead after it waits
// for line 1's read at its turn (or 200 ms), so a worker still running is
// inside one then, every time.
TEST(Engine, TheWorkersStopBeforeALineReadSerially) {
  Script s;
  script = &s;
  std::atomic<bool> line_1_read{false};
  int inside_during_line_1 = -1;
  int ahead_reads_before = -1;
  int later_lines_read_at_their_turn = 0;  // on the main thread only, the workers stopped
  s.read = [&](int line, bool ahead) {
    if (!ahead) {
      if (line >= 2) ++later_lines_read_at_their_turn;
      if (line == 1) {
        inside_during_line_1 = s.inside_ahead;
        ahead_reads_before = s.ahead_reads;
        usleep(20000);  // time for a worker still running to claim another line
        EXPECT_EQ(s.ahead_reads, ahead_reads_before);
        line_1_read = true;
      }
      return ReadAs(line);
    }
    if (line == 1) return ReadAs(line, LineState::Serial);
    if (line >= 2) AwaitUpTo(line_1_read, std::chrono::milliseconds(200));
    return ReadAs(line);
  };
  const std::vector<LineRead> taken = TakeAll(40);
  EXPECT_EQ(inside_during_line_1, 0);
  // What the workers read of the lines after it is read again.
  EXPECT_EQ(later_lines_read_at_their_turn, 38);
  for (int k = 0; k < 40; ++k) EXPECT_EQ(taken[static_cast<size_t>(k)].scan.size, 100 + k);
  script = nullptr;
}

// Line 0 is deferred to its turn (the run writes its file, say), and its
// open lacks descriptors the first time: it is read again once the workers
// are stopped. A worker still running would be inside a read ahead then.
TEST(Engine, AnOpenThatLackedResourcesAtItsTurnIsRetriedSerially) {
  Script s;
  script = &s;
  std::atomic<bool> retried{false};
  int turns = 0;
  int inside_at_retry = -1;
  s.read = [&](int line, bool ahead) {
    if (ahead) {
      if (line == 0) return ReadAs(line, LineState::Deferred);
      AwaitUpTo(retried, std::chrono::milliseconds(200));
      return ReadAs(line);
    }
    if (line != 0) return ReadAs(line);
    if (++turns == 1) {
      // Lacking only while a worker is inside a read, as it would be.
      for (int wait = 0; s.inside_ahead == 0 && wait < 2000; ++wait) usleep(1000);
      LineRead lacked;  // no descriptor was left
      lacked.state = LineState::Serial;
      return lacked;
    }
    inside_at_retry = s.inside_ahead;
    retried = true;
    return ReadAs(line);
  };
  const std::vector<LineRead> taken = TakeAll(10);
  EXPECT_EQ(turns, 2);
  EXPECT_EQ(inside_at_retry, 0);
  EXPECT_EQ(taken[0].scan.size, 100);
  for (int k = 1; k < 10; ++k) EXPECT_EQ(taken[static_cast<size_t>(k)].scan.size, 100 + k);
  script = nullptr;
}

// While the lines read a page each from a disk, workers are added; once they
// read none, the workers added stop taking work. The disk's blocks are
// counted here: a page a line for 12 checks, none for 12, a page a line for
// 12 more, then none.
// Each read ahead takes a millisecond, so that the workers' reads overlap.
// The workers of the second stretch on the disk are those of the first.
constexpr int kDiskChecks = 12;
int disk_checks = 0;
long disk_blocks = 0;
long BlocksOfTheDiskChecks() {
  const int stretch = disk_checks++ / kDiskChecks;
  if (stretch == 0 || stretch == 2) disk_blocks += long{ReadAhead::kLinesPerCheck} * 8;
  return disk_blocks;
}

TEST(Engine, WorkersAddedForTheDiskStopOnceReadsNoLongerWait) {
  Script s;
  script = &s;
  constexpr int kLines = ReadAhead::kLinesPerCheck * (kDiskChecks * 3 + 20);
  constexpr int kEndLines = 6 * ReadAhead::kLinesPerCheck;
  disk_checks = 0;
  disk_blocks = 0;
  std::mutex mutex;
  int most_while_disk = 0;
  int most_at_the_end = 0;
  std::set<pid_t> readers;  // the threads that read ahead
  s.read = [&](int line, bool ahead) {
    if (ahead) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        readers.insert(gettid());
        int& most = line < kLines - kEndLines ? most_while_disk : most_at_the_end;
        most = std::max(most, s.inside_ahead.load());
      }
      usleep(1000);
    }
    return ReadAs(line);
  };
  TakeAll(kLines, BlocksOfTheDiskChecks);
  EXPECT_GT(most_while_disk, 4);
  EXPECT_LE(most_at_the_end, 2);  // one worker and the main thread
  // The main thread, the first worker, one more a check: none started twice.
  EXPECT_LE(readers.size(), 2u + kDiskChecks);
  script = nullptr;
}

}  // namespace
}  // namespace korrin_test
