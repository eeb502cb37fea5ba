// SPDX-License-Identifier: MIT
// How much the place a read lands in its buffer costs on this machine:
// reads FILE (in the page cache) with reads of 10 KiB and of 128 KiB, as
// korrin's first and later reads, into a page-aligned destination and into
// one 32 bytes past it, alternately over five rounds, and prints the median
// of each and their ratio.
//   copy_alignment FILE [MIB]   (the first MIB MiB of FILE, 1024 by default)
// The kernel's copy out of the page cache does not cost the same on every
// processor: some copy into a destination off a 64-byte boundary several
// times slower, others slightly faster. A peer whose buffers sit where this
// machine copies faster gains by chance, not by its design.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kLargestRead = size_t{128} << 10;

// Seconds to read the first `bytes` of `fd` into `destination`, `size`
// bytes at a time.
double TimeReads(int fd, char* destination, size_t size, off_t bytes) {
  const auto start = std::chrono::steady_clock::now();
  for (off_t at = 0; at < bytes;) {
    const ssize_t got = pread(fd, destination, size, at);
    if (got <= 0) break;
    at += got;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: copy_alignment FILE [MIB]\n");
    return 2;
  }
  const off_t bytes = static_cast<off_t>(argc > 2 ? std::atol(argv[2]) : 1024) << 20;
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  alignas(4096) static char buffer[kLargestRead + 4096];
  constexpr size_t kOffsets[] = {0, 32};
  constexpr size_t kSizes[] = {size_t{10} << 10, kLargestRead};
  constexpr int kRounds = 5;
  TimeReads(fd, buffer, kLargestRead, bytes);  // into the page cache
  for (const size_t size : kSizes) {
    double times[2][kRounds];
    for (int round = 0; round < kRounds; ++round) {
      for (int k = 0; k < 2; ++k)
        times[k][round] = TimeReads(fd, buffer + kOffsets[k], size, bytes);
    }
    double median[2];
    for (int k = 0; k < 2; ++k) {
      std::sort(times[k], times[k] + kRounds);
      median[k] = times[k][kRounds / 2];
    }
    std::printf(
        "  %zu KiB reads of %ld MiB: into a page-aligned destination %.3f s, 32 bytes past it "
        "%.3f s (aligned/unaligned %.2f, medians of %d)\n",
        size >> 10, static_cast<long>(bytes >> 20), median[0], median[1], median[0] / median[1],
        kRounds);
  }
  close(fd);
  return 0;
}
