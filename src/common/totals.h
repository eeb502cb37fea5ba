// SPDX-License-Identifier: MIT
// The counts printed at the end of the report.
#pragma once

#include <cstdint>

namespace korrin {

struct Totals {
  int64_t files_listed = 0;  // lines read from the list file
  uint64_t total_bytes = 0;  // sizes of the files that could be opened
};

}  // namespace korrin
