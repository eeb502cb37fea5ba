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

// Of those, the ones that other threads of the process may cause.
bool IsLackOfResources(int error) {
  return error == ENOMEM || error == EMFILE || error == ENFILE;
}

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens `path` with `flags` unless its resolution passes a link of /proc
// whose target depends on the reading process (/proc/self/fd/N, which
// /dev/fd/N and /dev/stdin lead to); the open then fails with ELOOP.
// Without openat2 it fails with ENOSYS: the kernel cannot tell such links.
int OpenRefusingProcessLinks(const char* path, int flags) {
#if defined(KORRIN_HAVE_OPENAT2)
  open_how how = {};
  // The raw call does not add O_LARGEFILE as open64 does: without it a
  // 32-bit kernel refuses files of 2 GiB and more.
  how.flags = static_cast<uint64_t>(flags | O_LARGEFILE);
  how.resolve = RESOLVE_NO_MAGICLINKS;
  long fd;
  do {
    fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  return static_cast<int>(fd);
#else
  (void)path;
  (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

// A path whose status says it is no regular file: whether it is reached
// through a link to a descriptor, else what opening it may do. An O_PATH
// open resolves the path without opening the file, so a FIFO's writer sees
// no reader.
LeftForItsTurn NotRegular(const char* path, mode_t mode) {
#if defined(O_PATH)
  const int fd = OpenRefusingProcessLinks(path, O_PATH | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return S_ISDIR(mode) ? LeftForItsTurn::ADirectory : LeftForItsTurn::MayActOnOthers;
  }
#else
  (void)path;
  (void)mode;
#endif
  return LeftForItsTurn::DependsOnTheReader;
}

// Why an open ahead that failed with `error` leaves its file, after its
// status was read: or No, when the failure is the path's own.
LeftForItsTurn AfterAFailedOpen(int error) {
  if (IsLackOfResources(error)) return LeftForItsTurn::LackedResources;
  // The status was read, links to descriptors followed: ELOOP here is one
  // of those, refused; without openat2 nothing can be told.
  if (error == ELOOP || error == ENOSYS) return LeftForItsTurn::DependsOnTheReader;
  return IsMachineFailure(error) ? LeftForItsTurn::Unsure : LeftForItsTurn::No;
}

// The path's status first, so that only a regular file is opened: a loop of
// links is resolved once, and a FIFO's writer is not released.
OpenedProgram OpenAhead(const char* path) {
  OpenedProgram file;
  struct stat st;
  int status;
  do {
    status = stat(path, &st);
  } while (status != 0 && errno == EINTR);
  if (status != 0) {
    if (IsMachineFailure(errno)) {
      file.left =
          IsLackOfResources(errno) ? LeftForItsTurn::LackedResources : LeftForItsTurn::Unsure;
    }
    return file;  // else the path's own failure: missing, no permission, a loop
  }
  if (!S_ISREG(st.st_mode)) {
    file.left = NotRegular(path, st.st_mode);
    return file;
  }
  file.fd = OpenRefusingProcessLinks(path, kOpenFlags);
  if (file.fd < 0) {
    file.left = AfterAFailedOpen(errno);
    return file;
  }
  const bool stated = fstat(file.fd, &st) == 0;
  if (stated && S_ISREG(st.st_mode) && !(st.st_size == 0 && OnReaderDependentFileSystem(file.fd))) {
    file.size = static_cast<int64_t>(st.st_size);
    file.identity = IdentityOf(st);
    return file;
  }
  // A file of /proc and the like claims a size of 0; or the file changed
  // since its status was read.
  CloseProgram(file);
  file.left =
      stated && S_ISREG(st.st_mode) ? LeftForItsTurn::DependsOnTheReader : LeftForItsTurn::Unsure;
  return file;
}

OpenedProgram OpenAtItsTurn(const char* path) {
  OpenedProgram file;
  do {
    file.fd = open(path, kOpenFlags);
  } while (file.fd < 0 && errno == EINTR);
  if (file.fd < 0) {
    file.error = IsMachineFailure(errno) ? FileError::Open : FileError::None;
    file.lacked_resources = IsLackOfResources(errno);
    return file;
  }
  struct stat st;
  const bool stated = fstat(file.fd, &st) == 0;
  if (stated && S_ISREG(st.st_mode)) {
    file.size = static_cast<int64_t>(st.st_size);
    file.identity = IdentityOf(st);
    return file;
  }
  CloseProgram(file);
  file.error = stated ? FileError::None : FileError::Open;
  return file;
}

// Files systems whose files describe the process that reads them, or the
// system as it is at that moment: proc, sysfs, cgroup and cgroup2, debugfs,
// tracefs, securityfs.
constexpr unsigned long kReaderDependentFileSystems[] = {
    0x9fa0, 0x62656572, 0x27e0eb, 0x63677270, 0x64626720, 0x74726163, 0x73636673,
};

}  // namespace

bool CanOpenAhead() {
  const int fd = OpenRefusingProcessLinks("/", kOpenFlags);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool OnReaderDependentFileSystem(int fd) {
#if defined(__linux__)
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  for (const unsigned long type : kReaderDependentFileSystems) {
    if (static_cast<unsigned long>(fs.f_type) == type) return true;
  }
#else
  (void)fd;
#endif
  return false;
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

OpenedProgram OpenProgram(const char* path, Opening opening) {
  return opening == Opening::Ahead ? OpenAhead(path) : OpenAtItsTurn(path);
}

void CloseProgram(OpenedProgram& file) {
  if (file.fd >= 0) close(file.fd);
  file.fd = -1;
}

ProgramScan ScanProgram(OpenedProgram& file, const char* name, const ScanContext& context) {
  ProgramScan scan;
  std::strncpy(scan.record.name, name, sizeof scan.record.name - 1);
  scan.error = file.error;
  if (file.fd < 0) return scan;
  const DescriptorCloser closer{file.fd};
  file.fd = -1;  // the closer's now
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
