// The record that carries one generated program through the run.
#pragma once

#include <cstdint>
#include <string>

namespace korrin {

// One listed program. Text fields are NUL-terminated and sized with their
// terminator. The record is reused for every list line and never cleared:
// only `Status` says whether the constant fields belong to this line.
struct ProgramRef {
  char ExtName[9] = {};  // base name up to its first '.', upper-cased by the search
  char CrvCode[7] = {};
  char Status = 0;  // '1' block found and decoded, '0' otherwise
  char GenDate[11] = {};
  char GenTime[9] = {};
  char Session[6] = {};
  char Library[4] = {};
  char UserCode[9] = {};
  std::string Path;  // the list line, whole
  int64_t FileSize = 0;
};

}  // namespace korrin
