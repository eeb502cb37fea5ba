// SPDX-License-Identifier: MIT
// The floors of the benchmark: for every path of the list on standard input,
// open, read at most LIMIT bytes (the whole file when LIMIT is -1) with
// large reads, close. Nothing else. With "stat", also fstat each opened
// file, the one system call korrin adds to these; with "map", map each file
// whole instead of reading it and pass memchr over it, the least work that
// touches every byte (no bound on memory, as ripgrep maps).
//   floor LIMIT [stat|map] < LIST
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const long limit = argc > 1 ? std::strtol(argv[1], nullptr, 10) : -1;
  const bool with_stat = argc > 2 && std::strcmp(argv[2], "stat") == 0;
  const bool map = argc > 2 && std::strcmp(argv[2], "map") == 0;
  // Page-aligned, as korrin's buffers are: a read into a destination that is
  // not 64-byte aligned copies several times slower on common x86-64
  // processors, and the floor must measure the least work, not the layout.
  alignas(4096) static char buf[1 << 17];
  char* line = nullptr;
  size_t cap = 0;
  ssize_t len;
  long long total = 0;
  while ((len = getline(&line, &cap, stdin)) > 0) {
    if (line[len - 1] == '\n') line[len - 1] = '\0';
    const int fd = open(line, O_RDONLY);
    if (fd < 0) continue;
    struct stat st;
    if (with_stat || map) fstat(fd, &st);  // as korrin sizes a file
    if (map) {
      void* p =
          st.st_size > 0 ? mmap(nullptr, st.st_size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
      if (p != MAP_FAILED) {
        total += std::memchr(p, '\x01', st.st_size) == nullptr ? st.st_size : 0;
        munmap(p, st.st_size);
      }
      close(fd);
      continue;
    }
    long got = 0;
    for (;;) {
      const long want = limit < 0 ? static_cast<long>(sizeof buf)
                                  : std::min(static_cast<long>(sizeof buf), limit - got);
      if (want <= 0) break;
      const ssize_t r = read(fd, buf, static_cast<size_t>(want));
      if (r <= 0) break;
      got += r;
    }
    total += got;
    close(fd);
  }
  std::free(line);
  std::printf("%lld\n", total);
  return 0;
}
