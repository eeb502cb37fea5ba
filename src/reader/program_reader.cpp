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

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

OpenedProgram OpenProgram(const char* path) {
  OpenedProgram file;
  do {
    file.fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } while (file.fd < 0 && errno == EINTR);
  if (file.fd < 0) {
    file.error = IsMachineFailure(errno) ? FileError::Open : FileError::None;
    return file;
  }
  struct stat st;
  const int status = FileStatus(file.fd, &st);
  if (status != 0 || !S_ISREG(st.st_mode)) {
    close(file.fd);
    file.fd = -1;
    file.error = status != 0 ? FileError::Open : FileError::None;
    return file;
  }
  file.size = static_cast<int64_t>(st.st_size);
  file.identity = IdentityOf(st);
  return file;
}

ProgramScan ScanProgram(OpenedProgram& file, const char* name, ScanBuffer& buffer) {
  ProgramScan scan;
  std::strncpy(scan.record.name, name, sizeof scan.record.name - 1);
  scan.error = file.error;
  if (file.fd < 0) return scan;
  const DescriptorCloser closer{file.fd};
  file.fd = -1;
  scan.opened = true;
  scan.size = file.size;
  UpperCase(scan.record.name);
  FileBytes bytes(closer.fd, file.size, buffer);
  Window window;
  const int anchor = FindBlock(bytes, scan.record.name, &window);
  if (bytes.ReadFailed()) scan.error = FileError::Read;
  if (anchor < 0) return scan;
  DecodeBlock(scan.record.name, window, anchor, &scan.record.constants);
  scan.record.found = true;
  return scan;
}

ProgramScan ReadProgram(const char* path, const char* name, ScanBuffer& buffer) {
  OpenedProgram file = OpenProgram(path);
  return ScanProgram(file, name, buffer);
}

}  // namespace korrin
