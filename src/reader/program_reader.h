// SPDX-License-Identifier: MIT
// Reading one listed program file, in plain steps: its status, its open,
// and the scan and decoding of its constant block. The caller decides when
// each step runs.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "common/program_record.h"
#include "reader/block_search.h"
#include "reader/file_bytes.h"

namespace korrin {

// Which file a descriptor holds, whatever the path that led to it.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const struct stat& st);

// A path's status, links followed.
struct PathStatus {
  int error = 0;  // 0, or the errno of the failure
  mode_t mode = 0;
};
PathStatus StatusOf(const char* path);

// A listed file once opened, or why it is not.
struct OpenedProgram {
  int fd = -1;       // a regular file, open for reading
  int64_t size = 0;  // its size seen at open
  FileIdentity identity;
  int error_number = 0;               // the errno of a failed open or fstat; 0 for no regular file
  FileError error = FileError::None;  // the failure is the machine's: worth a message
  bool sparse = false;                // fewer blocks than bytes: it may have holes
};

// Opens `path` for reading if it names a regular file, links followed.
// Never blocks on a FIFO or a device. A regular file under another
// process's lease is opened once the lease is broken, as `cat` opens it.
OpenedProgram OpenProgram(const char* path);

// The same without ever waiting: a lease fails it with EAGAIN. It refuses
// a path through a link whose target depends on the reading process
// (/proc/self/fd/N, which /dev/fd/N and /dev/stdin lead to): the open then
// fails with ELOOP. Fails with ENOSYS where the system cannot tell such
// links (before Linux 5.6): see CanRefuseProcessLinks.
OpenedProgram OpenProgramRefusingProcessLinks(const char* path);
bool CanRefuseProcessLinks();

// True when `fd` is a file whose content depends on the process reading
// it: on /proc, /sys, a cgroup file system and the like.
bool OnReaderDependentFileSystem(int fd);

// Closes what an open opened, if anything.
void CloseProgram(OpenedProgram& file);

// True when `error_number` says the machine ran short of descriptors or
// memory, rather than that the path is wrong.
bool LackOfResources(int error_number);

// What the scan of a file that was not opened gives: the name as listed, and
// the open's failure.
ProgramScan UnopenedScan(const OpenedProgram& file, const char* name);

// The scan and decoding of an opened file for the program called `name` (as
// listed, at most 8 characters), in the steps of BlockSearch: Continue, and
// after a FarSearch step, Resume with the answer of far_search(). The file
// is closed when the scanner goes.
class ProgramScanner {
 public:
  ProgramScanner(OpenedProgram& file, const char* name, ScanBuffer& buffer,
                 const LargeFileSettings& settings);
  ~ProgramScanner();
  ProgramScanner(const ProgramScanner&) = delete;
  ProgramScanner& operator=(const ProgramScanner&) = delete;

  ScanStep Continue();
  const FarSearch& far_search() const { return search_.far_search(); }
  void Resume(int64_t next_marker);
  // Once Continue said Found or NotFound.
  const ProgramScan& Result() const { return scan_; }

 private:
  int fd_;
  ProgramScan scan_;
  FileBytes bytes_;
  BlockSearch search_;
};

}  // namespace korrin
