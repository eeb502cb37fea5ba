// SPDX-License-Identifier: MIT
#include "driver/status_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
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
  static inline std::vector<std::string> asked;

  // Knows every terminal but "unknown".
  static int LoadEntry(char*, const char* name) {
    entries.push_back(name);
    return std::strcmp(name, "unknown") == 0 ? 0 : 1;
  }
  static char* GetString(const char* id, char** area) {
    asked.push_back(id);
    const char* value = std::strcmp(id, "up") == 0 ? up : std::strcmp(id, "ce") == 0 ? ce : nullptr;
    if (value == nullptr) return nullptr;
    char* copy = *area;
    std::strcpy(copy, value);
    *area += std::strlen(value) + 1;
    return copy;
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
    asked.clear();
  }
};

// Two texts through ShowStatus; standard output goes to a file meanwhile.
std::string ShowTwo() {
  testing::internal::CaptureStdout();
  ShowStatus("File processed : \n");
  ShowStatus("File processed : \n");
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Both sequences are kept: the second is copied after the first, not over
// it (EachTextIsFollowedByWhatIsPresent shows both).
TEST(StatusLine, SetUpAsksForUpThenCe) {
  FakeTerm::Reset("\x1b[A", "\x1b[K");
  SetUpStatusLine("", FakeTerm::kLibrary);
  EXPECT_EQ(FakeTerm::asked, (std::vector<std::string>{"up", "ce"}));
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

// What korrin -R writes for the sample programs with TERM set to `term`
// (unset when null), standard output a pseudo-terminal or else a file.
std::string StatusLineOfTheExamples(const char* term, bool on_a_terminal) {
  korrin_test::TempDir dir;
  int terminal = -1, output = -1;
  if (on_a_terminal) {
    if (openpty(&terminal, &output, nullptr, nullptr, nullptr) != 0) return "openpty failed";
    termios raw;
    tcgetattr(output, &raw);
    cfmakeraw(&raw);  // bytes as written: no CR added before LF
    tcsetattr(output, TCSANOW, &raw);
  } else {
    output = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  }
  const auto in_child = [term, output] {
    dup2(output, STDOUT_FILENO);
    term == nullptr ? unsetenv("TERM") : setenv("TERM", term, 1);
  };
  const korrin_test::Outcome o = korrin_test::RunKorrin({.args = {dir / "report.txt", "-R"},
                                                         .list = "examples/programs.lst",
                                                         .cwd = KORRIN_SOURCE_DIR,
                                                         .in_child = in_child});
  close(output);
  EXPECT_EQ(o.status, 0);
  if (!on_a_terminal) return korrin_test::ReadFile(dir / "out");
  // Once korrin has gone, the terminal holds what it wrote, then says EIO.
  std::string shown;
  char bytes[4096];
  pollfd ready{terminal, POLLIN, 0};
  for (ssize_t n; poll(&ready, 1, 10000) > 0 && (n = read(terminal, bytes, sizeof bytes)) > 0;) {
    shown.append(bytes, static_cast<size_t>(n));
  }
  close(terminal);
  return shown;
}

TEST(StatusLine, OnATerminalTheSequencesOfTheOneTermNames) {
  // What the terminal library holds for xterm, asked here.
  const TerminalLibrary& library = SystemTerminalLibrary();
  char entry[1024], strings[256];
  char* end = strings;
  if (library.load_entry(entry, "xterm") != 1) GTEST_SKIP() << "no terminal entry for xterm";
  const char* up = library.get_string("up", &end);
  const char* ce = library.get_string("ce", &end);
  ASSERT_TRUE(up != nullptr && ce != nullptr);
  const std::string text = "File processed : \n";
  const struct {
    const char* term;
    bool on_a_terminal;
    std::string each;  // what follows every opened file
  } cases[] = {
      {"xterm", true, text + up + ce},
      {"unknown-terminal", true, text},  // the empty name, which ncurses does not know
      {"", true, text},
      {nullptr, true, text},
      {"xterm", false, text},  // a file: the empty name, whatever TERM says
  };
  for (const auto& c : cases) {
    std::string expected;
    for (int k = 0; k < 12; ++k) expected += c.each;
    EXPECT_EQ(StatusLineOfTheExamples(c.term, c.on_a_terminal), expected)
        << (c.term == nullptr ? "unset" : c.term) << (c.on_a_terminal ? " on a terminal" : "");
  }
}

}  // namespace
}  // namespace korrin
