// SPDX-License-Identifier: MIT
#include "driver/status_line.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin {
namespace {

// A terminal library double: capabilities from a table, calls recorded.
struct FakeTerm {
  static inline const char* up = nullptr;
  static inline const char* ce = nullptr;
  static inline std::vector<std::string> entries;  // the names looked up

  // Knows every terminal but "unknown".
  static int LoadEntry(char*, const char* name) {
    entries.push_back(name);
    return std::strcmp(name, "unknown") == 0 ? 0 : 1;
  }
  static const char* GetString(const char* id) {
    return std::strcmp(id, "up") == 0 ? up : std::strcmp(id, "ce") == 0 ? ce : nullptr;
  }
  static int PutString(const char* str, int, int (*putc)(int)) {
    for (; str != nullptr && *str != '\0'; ++str) putc(*str);
    return 0;
  }
  static constexpr TerminalLibrary kLibrary{LoadEntry, GetString, PutString};

  static void Reset(const char* up_value, const char* ce_value) {
    up = up_value;
    ce = ce_value;
    entries.clear();
  }
};

// Two texts through ShowStatus, then the line cleared; standard output goes
// to a file meanwhile.
std::string ShowTwo() {
  testing::internal::CaptureStdout();
  ShowStatus("File processed : \n");
  ShowStatus("File processed : \n");
  ClearStatusLine();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// The terminal asked for; one the library does not know falls back on the
// empty name.
TEST(StatusLine, UnknownTerminalFallsBackOnTheEmptyName) {
  const struct {
    const char* terminal;
    std::vector<std::string> entries;
  } cases[] = {{"", {""}}, {"xterm", {"xterm"}}, {"unknown", {"unknown", ""}}};
  for (const auto& c : cases) {
    FakeTerm::Reset("\x1b[A", "\x1b[K");
    SetUpStatusLine(c.terminal, FakeTerm::kLibrary);
    EXPECT_EQ(FakeTerm::entries, c.entries);
  }
}

TEST(StatusLine, EachTextIsFollowedByWhatIsPresent) {
  struct Case {
    const char* up;
    const char* ce;
    std::string expected;
  } const cases[] = {
      {"\x1b[A", "\x1b[K", "File processed : \n\x1b[A\x1b[KFile processed : \n\x1b[A\x1b[K"},
      {"\x1b[A", nullptr, "File processed : \n\x1b[AFile processed : \n\x1b[A"},
      {nullptr, "\x1b[K", "File processed : \n\x1b[KFile processed : \n\x1b[K"},
      {nullptr, nullptr, "File processed : \nFile processed : \n"},
  };
  for (const Case& c : cases) {
    FakeTerm::Reset(c.up, c.ce);
    SetUpStatusLine("", FakeTerm::kLibrary);
    EXPECT_EQ(ShowTwo(), c.expected);
  }
}

// A pseudo-terminal that passes bytes as written (no CR added before LF):
// `terminal` is the side the test reads, `output` korrin's standard output.
struct PseudoTerminal {
  int terminal = -1;
  int output = -1;
  PseudoTerminal() {
    if (openpty(&terminal, &output, nullptr, nullptr, nullptr) != 0) return;
    termios raw;
    tcgetattr(output, &raw);
    cfmakeraw(&raw);
    tcsetattr(output, TCSANOW, &raw);
  }
  ~PseudoTerminal() {
    if (terminal >= 0) close(terminal);
    if (output >= 0) close(output);
  }
};

// What reaches `fd` until it has been quiet for `quiet_ms`, or has ended.
std::string ReadUntilQuiet(int fd, int quiet_ms) {
  std::string got;
  char bytes[4096];
  pollfd ready{fd, POLLIN, 0};
  for (ssize_t n; poll(&ready, 1, quiet_ms) > 0 && (n = read(fd, bytes, sizeof bytes)) > 0;) {
    got.append(bytes, static_cast<size_t>(n));
  }
  return got;
}

// What korrin -R writes on a pseudo-terminal for the sample programs, with
// TERM set to `term` (unset when null) and TERMINFO to `terminfo` (when not
// null).
std::string StatusLineOfTheExamples(const char* term, const char* terminfo) {
  korrin_test::TempDir dir;
  PseudoTerminal pty;
  const auto in_child = [term, terminfo, &pty] {
    dup2(pty.output, STDOUT_FILENO);
    term == nullptr ? unsetenv("TERM") : setenv("TERM", term, 1);
    if (terminfo != nullptr) setenv("TERMINFO", terminfo, 1);
  };
  const korrin_test::Outcome o = korrin_test::RunKorrin({.args = {dir / "report.txt", "-R"},
                                                         .list = "examples/programs.lst",
                                                         .cwd = KORRIN_SOURCE_DIR,
                                                         .in_child = in_child});
  EXPECT_EQ(o.status, 0) << o.err;
  close(pty.output);  // once korrin has gone, the terminal says EIO after its bytes
  pty.output = -1;
  return ReadUntilQuiet(pty.terminal, 10000);
}

// The sequences the terminal library holds for xterm; empty when it has none.
std::string XtermSequences() {
  const TerminalLibrary& library = SystemTerminalLibrary();
  char entry[1024];
  if (library.load_entry(entry, "xterm") != 1) return "";
  const char* up = library.get_string("up");
  const char* ce = library.get_string("ce");
  return up == nullptr || ce == nullptr ? "" : std::string(up) + ce;
}

// A terminal entry whose cursor-up and clear-line are far longer than any
// real terminal's, compiled into `dir`; false without tic.
bool CompileLongEntry(const korrin_test::TempDir& dir) {
  korrin_test::WriteFile(dir / "long.src",
                         "long|sequences of 140 bytes,\n\tcols#80, lines#24,\n\tcuu1=" +
                             std::string(140, 'A') + ",\n\tel=" + std::string(140, 'B') + ",\n");
  const std::string tic = "tic -o " + dir.path() + " " + (dir / "long.src") + " 2>/dev/null";
  return std::system("command -v tic >/dev/null") == 0 && std::system(tic.c_str()) == 0;
}

TEST(StatusLine, OnATerminalTheSequencesOfTheOneTermNames) {
  const std::string xterm = XtermSequences();
  if (xterm.empty()) GTEST_SKIP() << "no terminal entry for xterm";
  korrin_test::TempDir terminfo;
  const bool have_long_entry = CompileLongEntry(terminfo);
  const std::string text = "File processed : \n";
  const struct {
    const char* term;
    const char* terminfo;
    std::string each;  // what follows every opened file
  } cases[] = {
      {"xterm", nullptr, text + xterm},
      {"unknown-terminal", nullptr, text},  // the empty name, which ncurses does not know
      {"", nullptr, text},
      {nullptr, nullptr, text},
      // Capabilities of any length are sent whole.
      {"long", terminfo.path().c_str(), text + std::string(140, 'A') + std::string(140, 'B')},
  };
  for (const auto& c : cases) {
    if (c.terminfo != nullptr && !have_long_entry) {
      ADD_FAILURE() << "tic (ncurses-bin) could not compile a terminal entry";
      continue;
    }
    std::string expected;
    for (int k = 0; k < 12; ++k) expected += c.each;
    EXPECT_EQ(StatusLineOfTheExamples(c.term, c.terminfo), expected)
        << (c.term == nullptr ? "unset" : c.term);
  }
}

// On a terminal, with a list that comes slowly, each message shows while the
// run waits: the terminal has had the message, and the sequences of the one
// before it, but not its own. The last ones leave the line blank.
TEST(StatusLine, AMessageStaysShownWhileTheListIsAwaited) {
  const std::string sequences = XtermSequences();
  if (sequences.empty()) GTEST_SKIP() << "no terminal entry for xterm";
  korrin_test::TempDir dir;
  korrin_test::WriteFile(dir / "a.cbl", korrin_test::kSmallProgram);
  PseudoTerminal pty;
  const int lines = 3;
  const auto in_child = [&dir, &pty] {
    dup2(pty.output, STDOUT_FILENO);
    setenv("TERM", "xterm", 1);
    int list[2];
    if (pipe(list) != 0) _exit(126);
    if (fork() == 0) {  // feeds the list, and notes what the terminal has after each line
      close(list[0]);
      for (int k = 1; k <= lines; ++k) {
        if (write(list[1], "a.cbl\n", 6) != 6) _exit(1);
        std::string got;
        char bytes[4096];
        pollfd ready{pty.terminal, POLLIN, 0};
        while (got.find('\n') == std::string::npos) {  // the message, within 10 s
          const ssize_t n =
              poll(&ready, 1, 10000) > 0 ? read(pty.terminal, bytes, sizeof bytes) : 0;
          if (n <= 0) _exit(1);
          got.append(bytes, static_cast<size_t>(n));
        }
        got += ReadUntilQuiet(pty.terminal, 300);  // whatever comes at once with it
        korrin_test::WriteFile(dir / ("after" + std::to_string(k)), got);
      }
      _exit(0);
    }
    dup2(list[0], STDIN_FILENO);
    close(list[0]);
    close(list[1]);
  };
  const korrin_test::Outcome o = korrin_test::RunKorrin(
      {.args = {"out.txt", "-R"}, .list = "/dev/stdin", .cwd = dir.path(), .in_child = in_child});
  EXPECT_EQ(o.status, 0);
  close(pty.output);
  pty.output = -1;
  const std::string at_the_end = ReadUntilQuiet(pty.terminal, 10000);
  const std::string message = "File processed : \n";
  EXPECT_EQ(korrin_test::ReadFile(dir / "after1"), message);
  for (int k = 2; k <= lines; ++k) {
    EXPECT_EQ(korrin_test::ReadFile(dir / ("after" + std::to_string(k))), sequences + message) << k;
  }
  EXPECT_EQ(at_the_end, sequences);
}

}  // namespace
}  // namespace korrin
