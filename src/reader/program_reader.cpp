// SPDX-License-Identifier: MIT
#include "reader/program_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#if defined(__linux__)
#include <sys/vfs.h>
#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define KORRIN_HAVE_OPENAT2 1
#endif
#endif

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

// Open failures that say the machine is short of something, not that the
// path is wrong: no descriptors, no memory, an I/O error.
bool IsMachineFailure(int error) {
  for (const int machine : {EIO, ENOMEM, EMFILE, ENFILE}) {
    if (error == machine) return true;
  }
  return false;
}

// Whether an open that refused process links failed where a plain open
// might not: for want of something other threads may hold, for want of
// openat2, or at a link to a descriptor (ELOOP, as a loop of links gives
// too: a plain resolution of the path, without opening the file, tells them
// apart). Other failures are the path's own, as a plain open meets them.
bool RefusedForTheReader(const char* path, int error) {
  if (IsMachineFailure(error) || error == ENOSYS) return true;
  if (error != ELOOP) return false;
#if defined(O_PATH)
  const int resolved = open(path, O_PATH | O_CLOEXEC);
  if (resolved >= 0) close(resolved);
  return resolved >= 0 || IsMachineFailure(errno);
#else
  return true;
#endif
}

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

int OpenRetried(const char* path) {
  int fd;
  do {
    fd = open(path, kOpenFlags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens `path` unless its resolution passes a link of /proc whose target
// depends on the reading process (/proc/self/fd/N, which /dev/fd/N and
// /dev/stdin lead to); the open then fails with ELOOP. Without openat2 it
// fails with ENOSYS: the kernel cannot tell such links apart.
int OpenRefusingProcessLinks(const char* path) {
#if defined(KORRIN_HAVE_OPENAT2)
  open_how how = {};
  how.flags = kOpenFlags;
  how.resolve = RESOLVE_NO_MAGICLINKS;
  long fd;
  do {
    fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  return static_cast<int>(fd);
#else
  (void)path;
  errno = ENOSYS;
  return -1;
#endif
}

// A file of /proc claims a size of 0, so only such files are asked.
bool OnProcessFileSystemIfEmpty(int fd, const struct stat& st) {
  return st.st_size == 0 && OnProcessFileSystem(fd);
}

}  // namespace

bool CanRefuseProcessFiles() {
  const int fd = OpenRefusingProcessLinks("/");
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool OnProcessFileSystem(int fd) {
#if defined(__linux__)
  constexpr long kProcMagic = 0x9fa0;
  struct statfs fs;
  return fstatfs(fd, &fs) == 0 && fs.f_type == kProcMagic;
#else
  (void)fd;
  return false;
#endif
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

OpenedProgram OpenProgram(const char* path, ProcessFiles process_files) {
  const bool refuse = process_files == ProcessFiles::Refuse;
  OpenedProgram file;
  file.fd = refuse ? OpenRefusingProcessLinks(path) : OpenRetried(path);
  if (file.fd < 0) {
    const int error = errno;
    if (refuse) {
      file.refused = RefusedForTheReader(path, error);
    } else {
      file.error = IsMachineFailure(error) ? FileError::Open : FileError::None;
    }
    return file;
  }
  struct stat st;
  const bool stated = fstat(file.fd, &st) == 0;
  const bool regular = stated && S_ISREG(st.st_mode);
  if (regular && !(refuse && OnProcessFileSystemIfEmpty(file.fd, st))) {
    file.size = static_cast<int64_t>(st.st_size);
    file.identity = IdentityOf(st);
    return file;
  }
  close(file.fd);
  file.fd = -1;
  if (refuse) {
    file.refused = !stated || regular;  // a failed fstat, or a file of /proc
  } else {
    file.error = stated ? FileError::None : FileError::Open;
  }
  return file;
}

ProgramScan ScanProgram(OpenedProgram& file, const char* name, const ScanContext& context) {
  ProgramScan scan;
  std::strncpy(scan.record.name, name, sizeof scan.record.name - 1);
  scan.error = file.error;
  if (file.fd < 0) return scan;
  const DescriptorCloser closer{file.fd};
  file.fd = -1;
  scan.opened = true;
  scan.size = file.size;
  UpperCase(scan.record.name);
  FileBytes bytes(closer.fd, file.size, context);
  Window window;
  const int anchor = FindBlock(bytes, scan.record.name, &window);
  if (bytes.ReadFailed()) scan.error = FileError::Read;
  if (anchor < 0) return scan;
  DecodeBlock(scan.record.name, window, anchor, &scan.record.constants);
  scan.record.found = true;
  return scan;
}

ProgramScan ReadProgram(const char* path, const char* name, const ScanContext& context) {
  OpenedProgram file = OpenProgram(path);
  return ScanProgram(file, name, context);
}

}  // namespace korrin
