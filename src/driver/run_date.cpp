// SPDX-License-Identifier: MIT
#include "driver/run_date.h"

#include <cstdio>

namespace korrin {

void FormatRunDate(const std::tm& t, Language language, char (&out)[kRunDateSize]) {
  const long year = 1900L + t.tm_year;
  const long century = year / 100;
  const long year_in_century = year % 100;
  if (language == Language::French) {
    std::snprintf(out, sizeof out, "%2.2d/%2.2d/%2.2ld%2.2ld", t.tm_mday, t.tm_mon + 1, century,
                  year_in_century);
  } else {
    std::snprintf(out, sizeof out, "%2.2ld%2.2ld/%2.2d/%2.2d", century, year_in_century,
                  t.tm_mon + 1, t.tm_mday);
  }
}

}  // namespace korrin
