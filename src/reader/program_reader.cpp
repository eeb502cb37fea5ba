#include "reader/program_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

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

}  // namespace

int OpenProgram(const char* path, int64_t* size) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (FileStatus(fd, &st) != 0) {
    *size = 0;  // cannot tell what it is; the reads will
    return fd;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  *size = static_cast<int64_t>(st.st_size);
  return fd;
}

ProgramScan ReadProgram(const char* path, const char* name, ScanBuffer& buffer) {
  ProgramScan scan;
  std::strncpy(scan.record.name, name, sizeof scan.record.name - 1);
  const int fd = OpenProgram(path, &scan.size);
  if (fd < 0) return scan;
  const DescriptorCloser closer{fd};
  scan.opened = true;
  UpperCase(scan.record.name);
  FileBytes file(fd, scan.size, buffer);
  Window window;
  const int anchor = FindBlock(file, scan.record.name, &window);
  if (anchor < 0) return scan;
  DecodeBlock(scan.record.name, window, anchor, &scan.record.constants);
  scan.record.found = true;
  return scan;
}

}  // namespace korrin
