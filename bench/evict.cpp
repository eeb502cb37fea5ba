// SPDX-License-Identifier: MIT
// Drops the page cache of every file named on standard input, one path a
// line: the cold-cache mode of the benchmark, where dropping all caches is
// not allowed.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
  char* line = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = getline(&line, &capacity, stdin)) > 0) {
    if (line[length - 1] == '\n') line[length - 1] = '\0';
    const int fd = open(line, O_RDONLY);
    if (fd < 0) continue;
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
  std::free(line);
  return 0;
}
