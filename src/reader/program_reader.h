// Reading one listed program file: open it, check that it is a regular file,
// find and decode its constant block, close it.
#pragma once

#include <cstdint>

#include "common/program_record.h"
#include "reader/file_bytes.h"

namespace korrin {

// What the reader found in one listed file.
struct ProgramScan {
  bool opened = false;   // a regular file that could be opened
  int64_t size = 0;      // its size when opened
  ProgramRecord record;  // the upper-cased name, and the constants if found
};

// Opens `path` for reading if it names a regular file (links followed).
// Returns the descriptor and sets `size`, or returns -1. Never blocks on a
// FIFO or a device.
int OpenProgram(const char* path, int64_t* size);

// Reads the file at `path` for the program called `name` (as listed, at most
// 8 characters), through `buffer`.
ProgramScan ReadProgram(const char* path, const char* name, ScanBuffer& buffer);

}  // namespace korrin
