// SPDX-License-Identifier: MIT
#include "driver/run_date.h"

#include <gtest/gtest.h>

#include <string>

namespace korrin {
namespace {

std::tm Day(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  return t;
}

TEST(RunDate, FullYearDayFirstInFrenchYearFirstInEnglish) {
  struct Case {
    int year, month, day;
    const char* french;
    const char* english;
  } const cases[] = {
      {2026, 12, 7, "07/12/2026", "2026/12/07"}, {2061, 1, 1, "01/01/2061", "2061/01/01"},
      {2100, 3, 15, "15/03/2100", "2100/03/15"}, {1999, 12, 31, "31/12/1999", "1999/12/31"},
      {2000, 2, 29, "29/02/2000", "2000/02/29"}, {1961, 6, 5, "05/06/1961", "1961/06/05"},
  };
  for (const Case& c : cases) {
    char out[kRunDateSize];
    FormatRunDate(Day(c.year, c.month, c.day), Language::French, out);
    EXPECT_STREQ(out, c.french);
    FormatRunDate(Day(c.year, c.month, c.day), Language::English, out);
    EXPECT_STREQ(out, c.english);
  }
}

}  // namespace
}  // namespace korrin
