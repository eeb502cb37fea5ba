// SPDX-License-Identifier: MIT
#include "reader/program_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

// Open failures that say the machine is short of something, not that the
// path is wrong: no descriptors, no memory, an I/O error.
bool IsMachineFailure(int error) {
  return error == EIO || LackOfResources(error);
}

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The descriptor `fd` of an open as an OpenedProgram: kept if it holds a
// regular file, else closed.
OpenedProgram Opened(int fd) {
  OpenedProgram file;
  if (fd < 0) {
    file.error_number = errno;
    file.error = IsMachineFailure(errno) ? FileError::Open : FileError::None;
    return file;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    file.error_number = errno;
    file.error = FileError::Open;  // the machine cannot say what it opened
  } else if (S_ISREG(st.st_mode)) {
    file.fd = fd;
    file.size = static_cast<int64_t>(st.st_size);
    file.identity = IdentityOf(st);
    file.sparse = static_cast<int64_t>(st.st_blocks) * 512 < file.size;
    return file;
  }
  close(fd);
  return file;
}

// A file under another process's lease (a Samba oplock, an NFS delegation)
// refuses a non-blocking open, which asks the holder to let go. It is
// opened again, waiting, through the descriptor of what the path names,
// once that shows a regular file: an open that waits on a FIFO could wait
// for ever.
OpenedProgram OpenedPastALease(const char* path) {
#if defined(O_PATH) && defined(__linux__)
  int named;
  do {
    named = open(path, O_PATH | O_CLOEXEC);
  } while (named < 0 && errno == EINTR);
  if (named < 0) return Opened(-1);
  struct stat st;
  if (fstat(named, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(named);
    return {};  // no regular file any more
  }
  char own_link[32];
  std::snprintf(own_link, sizeof own_link, "/proc/self/fd/%d", named);
  int fd;
  do {
    fd = open(own_link, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  OpenedProgram file = Opened(fd);
  // The file is there: not reading it is the machine's failure.
  if (fd < 0) file.error = FileError::Open;
  close(named);
  return file;
#else
  (void)path;
  errno = EAGAIN;
  return Opened(-1);
#endif
}

// Opens `path` with `flags` unless its resolution passes a link of /proc
// whose target depends on the reading process; the open then fails with
// ELOOP. Without openat2 it fails with ENOSYS.
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

// Files systems whose files describe the process that reads them, or the
// system as it is at that moment: proc, sysfs, cgroup and cgroup2, debugfs,
// tracefs, securityfs.
constexpr unsigned long kReaderDependentFileSystems[] = {
    0x9fa0, 0x62656572, 0x27e0eb, 0x63677270, 0x64626720, 0x74726163, 0x73636673,
};

// The scan of a file as far as its open goes: the name as listed (upper-
// cased once the file is opened), and what the open found.
ProgramScan Started(const OpenedProgram& file, const char* name) {
  ProgramScan scan = UnopenedScan(file, name);
  if (file.fd < 0) return scan;
  scan.opened = true;
  scan.size = file.size;
  UpperCase(scan.record.name);
  return scan;
}

}  // namespace

ProgramScan UnopenedScan(const OpenedProgram& file, const char* name) {
  ProgramScan scan;
  std::strncpy(scan.record.name, name, sizeof scan.record.name - 1);
  scan.error = file.error;
  return scan;
}

bool LackOfResources(int error_number) {
  return error_number == ENOMEM || error_number == EMFILE || error_number == ENFILE;
}

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

PathStatus StatusOf(const char* path) {
  PathStatus status;
  struct stat st;
  int result;
  do {
    result = stat(path, &st);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    status.error = errno;
  } else {
    status.mode = st.st_mode;
  }
  return status;
}

OpenedProgram OpenProgram(const char* path) {
  int fd;
  do {
    fd = open(path, kOpenFlags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return OpenedPastALease(path);
  return Opened(fd);
}

OpenedProgram OpenProgramRefusingProcessLinks(const char* path) {
  return Opened(OpenRefusingProcessLinks(path, kOpenFlags));
}

bool CanRefuseProcessLinks() {
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

void CloseProgram(OpenedProgram& file) {
  if (file.fd >= 0) close(file.fd);
  file.fd = -1;
}

ProgramScanner::ProgramScanner(OpenedProgram& file, const char* name, ScanBuffer& buffer,
                               const LargeFileSettings& settings)
    : fd_(file.fd),
      scan_(Started(file, name)),
      bytes_(file.fd, file.size, file.sparse, buffer),
      search_(bytes_, scan_.record.name,
              {.fd = file.fd, .size = file.size, .sparse = file.sparse, .settings = settings}) {
  file.fd = -1;  // the scanner's now
}

ProgramScanner::~ProgramScanner() {
  if (fd_ >= 0) close(fd_);
}

ScanStep ProgramScanner::Continue() {
  if (fd_ < 0) return ScanStep::NotFound;
  const ScanStep step = search_.Continue();
  if (step == ScanStep::FarSearch) return step;
  if (bytes_.ReadFailed()) scan_.error = FileError::Read;
  if (step == ScanStep::Found) {
    DecodeBlock(scan_.record.name, search_.window(), search_.anchor(), &scan_.record.constants);
    scan_.record.found = true;
  }
  return step;
}

void ProgramScanner::Resume(int64_t next_marker) {
  bytes_.Forget();  // the far search read through the same buffer
  search_.Resume(next_marker);
}

}  // namespace korrin
