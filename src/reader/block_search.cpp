#include "reader/block_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/status_line.h"
#include "reader/marker_search.h"
#include "reader/text.h"

namespace korrin {
namespace {

// A forward-only view of the file through the scan buffer: it holds the
// bytes [base_, base_ + len_) and reads on at the file's current offset.
class FileBytes {
 public:
  FileBytes(int fd, int64_t size, char* buf) : fd_(fd), size_(size), buf_(buf) {}

  // The bytes from `from` on, up to `count` of them or the end of the file:
  // sets `bytes` and returns how many there are. `from` never goes back
  // before the start of an earlier request's bytes.
  int Get(int64_t from, int count, const char** bytes) {
    const int64_t end = from + count;
    if (end > base_ + len_ && !eof_) Fill(from, end);
    *bytes = buf_ + (from - base_);
    return static_cast<int>(std::max<int64_t>(0, std::min(end, base_ + len_) - from));
  }

 private:
  void Fill(int64_t from, int64_t end) {
    if (end - base_ > kBufferSize) {  // keep only what is still wanted
      const int64_t keep = base_ + len_ - from;
      std::memmove(buf_, buf_ + (from - base_), static_cast<size_t>(keep));
      base_ = from;
      len_ = keep;
    }
    while (base_ + len_ < end && !eof_) {
      const int64_t room = kBufferSize - len_;
      const int64_t want = std::min(room, std::max(end - base_ - len_, next_read_));
      const ssize_t r = read(fd_, buf_ + len_, static_cast<size_t>(want));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        eof_ = true;  // the end, or an error: what was read is all there is
        break;
      }
      len_ += r;
      // A short read that reaches the size seen at open is the end.
      if (r < want && size_ >= 0 && base_ + len_ >= size_) eof_ = true;
      next_read_ = std::min<int64_t>(next_read_ * 2, kBufferSize);
    }
  }

  int fd_;
  int64_t size_;
  char* buf_;
  int64_t base_ = 0;
  int64_t len_ = 0;
  bool eof_ = false;
  // The first read takes the first chunk and a window: most blocks lie near
  // the start. Later reads double up to the buffer's size.
  int64_t next_read_ = kChunkSize + 240;
};

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

// fstat through its own system call: the library's fstat goes through
// fstatat with an empty path, which costs a path lookup per file.
int FileStat(int fd, struct stat* st) {
#ifdef SYS_fstat
  return static_cast<int>(syscall(SYS_fstat, fd, st));
#else
  return fstat(fd, st);
#endif
}

}  // namespace

int FindBlock(int fd, const char* ext_name, ScanBuffers& bufs, Window* window, int64_t size) {
  FileBytes file(fd, size, bufs.data);
  int64_t S = 0;  // start of the current chunk
  for (;;) {
    const char* chunk;
    const int n = file.Get(S, kChunkSize, &chunk);
    if (n < kMinChunk) return -1;
    const int i = FindMarker(chunk, n);
    if (i < 0) {
      S += n - kMarkerLen;
      continue;
    }
    const int64_t E = S + i + kMarkerLen;  // just after the marker
    const char* suite;
    const int w = file.Get(E, kWindowSize, &suite);
    *window = Window{suite, w};
    const int a = strnsrch(w, suite, ext_name);
    if (a >= 0) return a;
    const int b = strnsrch(w, suite, "/");
    if (b < 0) {
      S = E;
    } else if (b + 3 < w && suite[b + 3] == '/') {
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
  if (FileStat(*fd, &st) != 0) {
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
  const int anchor = FindBlock(fd, ref.ExtName, bufs, &window, ref.FileSize);
  if (anchor < 0) {
    ref.Status = '0';
    return;
  }
  LireRefCrv(ref, window, anchor, run.ArgOpf != 0);
  ref.Status = '1';
}

}  // namespace korrin
