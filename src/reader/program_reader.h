// SPDX-License-Identifier: MIT
// Reading one listed program file: open it, check that it is a regular file,
// find and decode its constant block, close it.
#pragma once

#include <cstdint>

#include "common/program_record.h"
#include "reader/file_bytes.h"

namespace korrin {

// A failure of the machine rather than of the file named: worth a message.
// A missing file, a directory or a file without permission is none.
enum class FileError {
  None,
  Open,  // the open failed for want of descriptors, memory or I/O, or fstat failed
  Read,  // a read failed: the file was scanned as far as it could be read
};

// What the reader found in one listed file.
struct ProgramScan {
  bool opened = false;  // a regular file that could be opened
  FileError error = FileError::None;
  int64_t size = 0;      // its size when opened
  ProgramRecord record;  // the upper-cased name, and the constants if found
};

// Opens `path` for reading if it names a regular file (links followed), and
// returns the descriptor with `size` set. Otherwise returns -1, with `error`
// telling whether the machine failed. Never blocks on a FIFO or a device.
int OpenProgram(const char* path, int64_t* size, FileError* error);

// Reads the file at `path` for the program called `name` (as listed, at most
// 8 characters), through `buffer`.
ProgramScan ReadProgram(const char* path, const char* name, ScanBuffer& buffer);

}  // namespace korrin
