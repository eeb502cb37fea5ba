// SPDX-License-Identifier: MIT
#include "driver/line_reading.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "korrin_process.h"

namespace korrin_test {
namespace {

using korrin::LineState;
using korrin::OwnFiles;
using korrin::ScanBuffer;

// A line reader whose far searches run on its own thread.
struct Reader final : korrin::LineReader {
  using LineReader::LineReader;
};

// When a line's file is read, by what its path is.
TEST(LineReading, WhenEachKindOfPathIsRead) {
  if (!korrin::CanRefuseProcessLinks()) {
    GTEST_SKIP() << "no openat2 here (qemu-user 7.2 and valgrind 3.19 have none): korrin reads one "
                    "line at a time";
  }
  TempDir dir;
  WriteFile(dir / "a.cbl", kSmallProgram);
  WriteFile(dir / "report.txt", "written by the run");
  struct stat st;
  ASSERT_EQ(stat((dir / "report.txt").c_str(), &st), 0);
  OwnFiles own;
  own.Add(korrin::IdentityOf(st));
  ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {.sun_family = AF_UNIX, .sun_path = {}};
  (dir / "socket").copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const int held = open((dir / "a.cbl").c_str(), O_RDONLY);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  // A lease held here: the break's signal is ignored.
  WriteFile(dir / "leased.cbl", kSmallProgram);
  const int leased = open((dir / "leased.cbl").c_str(), O_RDONLY);
  const auto old_handler = signal(SIGIO, SIG_IGN);
  ASSERT_EQ(fcntl(leased, F_SETLEASE, F_WRLCK), 0);
  struct Case {
    std::string path;
    LineState state;
    bool opened;
  } const cases[] = {
      {dir / "a.cbl", LineState::Read, true},
      {dir / "missing.cbl", LineState::Read, false},
      {dir / "loop", LineState::Read, false},  // a loop of links: the path's own failure
      {dir / "report.txt", LineState::Deferred, false},
      {dir.path(), LineState::Deferred, false},  // no regular file: opened only at its turn
      {dir / "fifo", LineState::Serial, false},  // opening it may release a writer
      {dir / "socket", LineState::Serial, false},
      {"/dev/null", LineState::Serial, false},
      {"/dev/fd/" + std::to_string(held), LineState::Serial, false},
      {"/dev/fd/" + std::to_string(pipe_ends[0]), LineState::Serial, false},
      {"/proc/self/status", LineState::Serial, false},
      {"/sys/kernel/uevent_seqnum", LineState::Serial, false},  // of 4096 bytes, it says
      {dir / "leased.cbl", LineState::Serial, false},
  };
  const auto buffer = std::make_unique<ScanBuffer>();
  Reader reader(*buffer, {}, own);
  for (const Case& c : cases) {
    if (c.path.starts_with("/sys/") && !Exists(c.path)) continue;  // no sysfs here
    korrin::ProgramScan scan;
    EXPECT_EQ(reader.Ahead(c.path.c_str(), "A", &scan), c.state) << c.path;
    EXPECT_EQ(scan.opened, c.opened) << c.path;
  }
  fcntl(leased, F_SETLEASE, F_UNLCK);
  signal(SIGIO, old_handler);
  close(leased);
  close(held);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  close(sock);
}

}  // namespace
}  // namespace korrin_test
