// SPDX-License-Identifier: MIT
#include "reader/program_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "reader/block_decode.h"
#include "reader/block_search.h"
#include "reader/text.h"

namespace korrin {
namespace {

// Closes a descriptor on every path out of the reader.
struct DescriptorCloser {
  int fd;
  ~DescriptorCloser() {
    if (fd >= 0) close(fd);
  }
};

// fstat through its own system call: the library's fstat goes through
// fstatat with an empty path, which costs a path lookup per file.
int FileStatus(int fd, struct stat* st) {
#ifdef SYS_fstat
  return static_cast<int>(syscall(SYS_fstat, fd, st));
#else
  return fstat(fd, st);
#endif
}

// Open failures that say the machine is short of something, not that the
// path is wrong: no descriptors, no memory, an I/O error.
bool IsMachineFailure(int error) {
  for (const int machine : {EIO, ENOMEM, EMFILE, ENFILE}) {
    if (error == machine) return true;
  }
  return false;
}

}  // namespace

int OpenProgram(const char* path, int64_t* size, FileError* error) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = IsMachineFailure(errno) ? FileError::Open : FileError::None;
    return -1;
  }
  struct stat st;
  if (FileStatus(fd, &st) != 0) {
    close(fd);
    *error = FileError::Open;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    *error = FileError::None;
    return -1;
  }
  *size = static_cast<int64_t>(st.st_size);
  *error = FileError::None;
  return fd;
}

ProgramScan ReadProgram(const char* path, const char* name, ScanBuffer& buffer) {
  ProgramScan scan;
  std::strncpy(scan.record.name, name, sizeof scan.record.name - 1);
  const int fd = OpenProgram(path, &scan.size, &scan.error);
  if (fd < 0) return scan;
  const DescriptorCloser closer{fd};
  scan.opened = true;
  UpperCase(scan.record.name);
  FileBytes file(fd, scan.size, buffer);
  Window window;
  const int anchor = FindBlock(file, scan.record.name, &window);
  if (file.ReadFailed()) scan.error = FileError::Read;
  if (anchor < 0) return scan;
  DecodeBlock(scan.record.name, window, anchor, &scan.record.constants);
  scan.record.found = true;
  return scan;
}

}  // namespace korrin
