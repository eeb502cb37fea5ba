// The floor of the benchmark: for every path of the list on standard input,
// open, read at most LIMIT bytes (the whole file by default) with large
// reads, close. Nothing else.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>

int main(int argc, char** argv) {
  const long limit = argc > 1 ? std::strtol(argv[1], nullptr, 10) : -1;
  static char buf[1 << 17];
  char* line = nullptr;
  size_t cap = 0;
  ssize_t len;
  long long total = 0;
  while ((len = getline(&line, &cap, stdin)) > 0) {
    if (line[len - 1] == '\n') line[len - 1] = '\0';
    const int fd = open(line, O_RDONLY);
    if (fd < 0) continue;
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
