// Run-wide options and counters, set by the driver and read by the search
// and the report.
#pragma once

#include <cstdint>

namespace korrin {

struct RunState {
  int ArgOpf = 0;          // 1 French, 0 English
  bool ArgOpR = false;     // -R: console status line, "1" on every title line
  bool ArgOpr = false;     // -r: title line with its third field
  const char* Lib1 = "";   // progress label
  char datejour[40] = {};  // run date, 10 characters (room for any year)
  int64_t nbP = 0;         // lines read from the list file
  uint64_t TailleTot = 0;  // bytes in all opened files
};

}  // namespace korrin
