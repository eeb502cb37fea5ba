#include "driver/run_date.h"

#include <cstdio>

namespace korrin {

void FormatDateJour(const std::tm& t, bool french, char (&out)[40]) {
  const long year = 1900L + t.tm_year;
  const long Siecle = year / 100;
  const long yy = year % 100;
  if (french) {
    std::snprintf(out, sizeof out, "%2.2d/%2.2d/%2.2ld%2.2ld", t.tm_mday, t.tm_mon + 1, Siecle, yy);
  } else {
    std::snprintf(out, sizeof out, "%2.2ld%2.2ld/%2.2d/%2.2d", Siecle, yy, t.tm_mon + 1, t.tm_mday);
  }
}

}  // namespace korrin
