#include "reader/block_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "driver/status_line.h"
#include "reader/text.h"

namespace korrin {
namespace {

// Reads up to `count` bytes at `offset`, as many as the file gives before its
// end or an error.
int ReadAt(int fd, char* buf, int count, int64_t offset) {
  int got = 0;
  while (got < count) {
    const ssize_t r = pread(fd, buf + got, static_cast<size_t>(count - got), offset + got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<int>(r);
  }
  return got;
}

// Closes a descriptor on every path out of the search.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

void Announce(const ProgramRef& ref, const RunState& run) {
  if (!run.ArgOpR) {
    std::fputs(run.Lib1, stdout);
    std::fputs(" : ", stdout);
    std::fwrite(ref.Path.data(), 1, ref.Path.size(), stdout);
    std::putc('\n', stdout);
    return;
  }
  char winline[80];
  std::snprintf(winline, sizeof winline, "%s : %s\n", run.Lib1, "");
  Affiche(winline);
}

}  // namespace

int FindBlock(int fd, const char* ext_name, ScanBuffers& bufs, Window* window) {
  int64_t S = 0;
  for (;;) {
    const int n = ReadAt(fd, bufs.Buf, kChunkSize, S);
    if (n < kMinChunk) return -1;
    const int i = strnsrch(n, bufs.Buf, kMarker);
    if (i < 0) {
      S += n - kMarkerLen;
      continue;
    }
    const int64_t E = S + i + kMarkerLen;
    const int w = ReadAt(fd, bufs.BufSuite, kWindowSize, E);
    *window = Window{bufs.BufSuite, w};
    const int a = strnsrch(w, bufs.BufSuite, ext_name);
    if (a >= 0) return a;
    const int b = strnsrch(w, bufs.BufSuite, "/");
    if (b < 0) {
      S = E;
    } else if (b + 3 < w && bufs.BufSuite[b + 3] == '/') {
      return b + 28;
    } else {
      S = E + w;
    }
  }
}

char OuvertureFichier(const ProgramRef& ref, int* fd, int64_t* size) {
  *fd = open(ref.Path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (*fd < 0) return '0';
  struct stat st;
  if (fstat(*fd, &st) != 0) {
    *size = 0;  // cannot tell what it is; the reads will
    return '1';
  }
  if (!S_ISREG(st.st_mode)) {
    close(*fd);
    *fd = -1;
    return '0';
  }
  *size = static_cast<int64_t>(st.st_size);
  return '1';
}

void CrvDay(ProgramRef& ref, RunState& run) {
  static ScanBuffers bufs;
  int fd = -1;
  ref.Status = OuvertureFichier(ref, &fd, &ref.FileSize);
  if (ref.Status == '0') return;
  FdCloser closer{fd};
  Announce(ref, run);
  run.TailleTot += static_cast<uint64_t>(ref.FileSize);
  majuscule(ref.ExtName);
  Window window{nullptr, 0};
  const int anchor = FindBlock(fd, ref.ExtName, bufs, &window);
  if (anchor < 0) {
    ref.Status = '0';
    return;
  }
  LireRefCrv(ref, window, anchor, run.ArgOpf != 0);
  ref.Status = '1';
}

}  // namespace korrin
