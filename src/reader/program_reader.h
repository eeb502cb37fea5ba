// SPDX-License-Identifier: MIT
// Reading one listed program file: open it, check that it is a regular file,
// find and decode its constant block, close it.
#pragma once

#include <sys/stat.h>

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

// Which file a descriptor holds, whatever the path that led to it.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const struct stat& st);

// A listed file once opened: a regular file (fd >= 0), or the reason it is
// not, with `error` telling whether the machine failed.
struct OpenedProgram {
  int fd = -1;
  int64_t size = 0;  // the size seen at open
  FileError error = FileError::None;
  FileIdentity identity;
  // Not opened by ProcessFiles::Refuse: what the path names or holds depends
  // on the process that reads it, or the open failed in a way that only a
  // plain open can judge.
  bool refused = false;
};

// Files whose meaning depends on the process that reads them: /proc files,
// whose content describes the reader, and paths through /dev/fd or
// /proc/self/fd, which name whatever the reader has open at that moment.
enum class ProcessFiles {
  Open,    // opened like any other
  Refuse,  // not opened: `refused` instead, and so for an open that fails
           // where a plain open might not (for want of descriptors, memory
           // or I/O); other failures are the path's own
};

// Whether this system can tell the paths that ProcessFiles::Refuse refuses
// (Linux's openat2, since 5.6). Where it cannot, every open is refused.
bool CanRefuseProcessFiles();

// True when `fd` is a file of /proc.
bool OnProcessFileSystem(int fd);

// Opens `path` for reading if it names a regular file (links followed).
// Never blocks on a FIFO or a device.
OpenedProgram OpenProgram(const char* path, ProcessFiles process_files = ProcessFiles::Open);

// Scans and decodes an opened file for the program called `name` (as
// listed, at most 8 characters) with `context`, and closes it.
ProgramScan ScanProgram(OpenedProgram& file, const char* name, const ScanContext& context);

// OpenProgram, then ScanProgram.
ProgramScan ReadProgram(const char* path, const char* name, const ScanContext& context);

}  // namespace korrin
