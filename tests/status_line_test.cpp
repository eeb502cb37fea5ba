// SPDX-License-Identifier: MIT
#include "driver/status_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace korrin {
namespace {

// A terminal library double: capabilities from a table, calls recorded.
struct FakeTerm {
  static inline const char* up = nullptr;
  static inline const char* ce = nullptr;
  static inline std::string entry_name;
  static inline std::vector<std::string> asked;

  static int LoadEntry(char*, const char* name) {
    entry_name = name;
    return 1;
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
    entry_name = "unset";
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

// Both sequences are kept: the second is copied after the first, not over it.
TEST(StatusLine, SetUpAsksForUpThenCeWithTheAreaAdvancing) {
  FakeTerm::Reset("\x1b[A", "\x1b[K");
  SetUpStatusLine(FakeTerm::kLibrary);
  EXPECT_EQ(FakeTerm::entry_name, "");  // the empty name, not $TERM
  ASSERT_EQ(FakeTerm::asked, (std::vector<std::string>{"up", "ce"}));
  EXPECT_STREQ(CursorUpSequence(), "\x1b[A");
  EXPECT_STREQ(ClearLineSequence(), "\x1b[K");
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
    SetUpStatusLine(FakeTerm::kLibrary);
    EXPECT_EQ(ShowTwo(), c.expected);
  }
}

}  // namespace
}  // namespace korrin
