// SPDX-License-Identifier: MIT
// Reading one listed program file: open it, check that it is a regular file,
// find and decode its constant block, close it.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "common/program_record.h"
#include "reader/file_bytes.h"

namespace korrin {

// Which file a descriptor holds, whatever the path that led to it.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const struct stat& st);

// When a listed file is opened.
enum class Opening {
  AtItsTurn,  // when its line's turn comes, as a run of one line at a time opens it
  // Before its turn, while other threads of the process read other files:
  // only what that cannot change is opened (see LeftForItsTurn).
  Ahead,
};

// Why an open ahead left a file for its line's turn.
enum class LeftForItsTurn {
  No,
  ADirectory,  // opened when its line's turn comes: no regular file
  // A FIFO, a device or a socket: opening it may act on other processes
  // (release a FIFO's writer, say), which may then change later files.
  MayActOnOthers,
  // Its meaning depends on the process reading it: a file of /proc, /sys or
  // a cgroup, or a path through /dev/fd/N, /proc/self/fd/N or /dev/stdin.
  DependsOnTheReader,
  LackedResources,  // no descriptor or memory was left, which other threads may hold
  Unsure,           // the path's status could not be read: its own open will tell
};

// A listed file once opened: a regular file (fd >= 0), or the reason it is
// not, with `error` telling whether the machine failed.
struct OpenedProgram {
  int fd = -1;
  int64_t size = 0;  // the size seen at open
  FileError error = FileError::None;
  FileIdentity identity;
  bool lacked_resources = false;  // the open failed because descriptors or memory ran out
  LeftForItsTurn left = LeftForItsTurn::No;  // Opening::Ahead only
};

// Whether this system can tell the paths that Opening::Ahead leaves for
// their turn (Linux's openat2, since 5.6). Where it cannot, it leaves all.
bool CanOpenAhead();

// True when `fd` is a file whose content depends on the process reading
// it: on /proc, /sys, a cgroup file system and the like.
bool OnReaderDependentFileSystem(int fd);

// Opens `path` for reading if it names a regular file (links followed).
// Never blocks on a FIFO or a device.
OpenedProgram OpenProgram(const char* path, Opening opening = Opening::AtItsTurn);

// Closes what OpenProgram opened, if anything.
void CloseProgram(OpenedProgram& file);

// Scans and decodes an opened file for the program called `name` (as
// listed, at most 8 characters) with `context`, and closes it.
ProgramScan ScanProgram(OpenedProgram& file, const char* name, const ScanContext& context);

// OpenProgram when its line's turn comes, then ScanProgram.
ProgramScan ReadProgram(const char* path, const char* name, const ScanContext& context);

}  // namespace korrin
