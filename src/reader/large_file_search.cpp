// SPDX-License-Identifier: MIT
#include "reader/large_file_search.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <mutex>

#include "reader/file_bytes.h"
#include "reader/marker_search.h"

namespace korrin {
namespace {

std::atomic<int> free_helpers{0};
std::atomic<int64_t> least_length{kLeastLargeLength};
std::atomic<int64_t> segment_length{kSegmentLength};
// One mapped segment at a time in the whole process: a mapped segment counts
// in the resident memory until it is unmapped.
std::atomic<bool> mapping_taken{false};

// A file cut shorter while mapped raises SIGBUS where the mapping outlives
// it; the thread that touched it jumps back out of its search.
thread_local sigjmp_buf* bus_error_exit = nullptr;

void OnBusError(int signal_number, siginfo_t*, void*) {
  if (bus_error_exit != nullptr) siglongjmp(*bus_error_exit, 1);
  std::signal(signal_number, SIG_DFL);  // not ours: die of it as usual
  std::raise(signal_number);
}

void CatchBusErrors() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
  });
}

struct SegmentResult {
  int64_t marker = kNoMarker;
  bool clean = true;  // every byte of the segment could be read
};

// The first marker wholly in [from, to), read through `buffer`.
SegmentResult ReadSegment(int fd, int64_t from, int64_t to, char* buffer) {
  SegmentResult result;
  int64_t held_from = from;  // file position of buffer[0]
  int64_t held = 0;
  while (held_from + held < to) {
    const int64_t want = std::min<int64_t>(kScanBufferSize - held, to - held_from - held);
    const ssize_t got = pread(fd, buffer + held, static_cast<size_t>(want), held_from + held);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      result.clean = false;
      return result;
    }
    held += got;
    const int at = FindMarker(buffer, static_cast<int>(held));
    if (at >= 0) {
      result.marker = held_from + at;
      return result;
    }
    // A marker may start in the last bytes and end in the next read.
    const int64_t keep = std::min<int64_t>(held, kMarkerLength - 1);
    std::memmove(buffer, buffer + held - keep, static_cast<size_t>(keep));
    held_from += held - keep;
    held = keep;
  }
  return result;
}

// The same through a mapping of the segment, without copying it.
SegmentResult MapSegment(int fd, int64_t from, int64_t to) {
  SegmentResult result;
  const int64_t page = sysconf(_SC_PAGESIZE);
  const int64_t map_from = from / page * page;
  const auto length = static_cast<size_t>(to - map_from);
  void* const mapped = mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, map_from);
  if (mapped == MAP_FAILED) {
    result.clean = false;
    return result;
  }
  sigjmp_buf exit;
  if (sigsetjmp(exit, 1) != 0) {  // the file ended inside the mapping
    bus_error_exit = nullptr;
    munmap(mapped, length);
    result.clean = false;
    return result;
  }
  bus_error_exit = &exit;
  const char* bytes = static_cast<const char*>(mapped) + (from - map_from);
  const int at = FindMarker(bytes, static_cast<int>(to - from));
  bus_error_exit = nullptr;
  munmap(mapped, length);
  if (at >= 0) result.marker = from + at;
  return result;
}

// One search, shared by the caller and a helper: each takes the next
// segment until the segments run out or one before it has stopped the search.
struct Search {
  Search(int fd, int64_t from, int64_t size, int64_t segment)
      : fd(fd),
        from(from),
        size(size),
        segment(segment),
        segments((size - 1) / segment - from / segment + 1) {}

  const int fd;
  const int64_t from;
  const int64_t size;
  const int64_t segment;
  const int64_t segments;
  std::atomic<int64_t> next{0};
  std::mutex mutex;
  int64_t stop_segment = INT64_MAX;  // the lowest segment with a marker or a failed read
  SegmentResult stop_result = {};

  int64_t SegmentStart(int64_t k) const { return k == 0 ? from : (from / segment + k) * segment; }

  void Run(char* buffer) {
    const bool map = !mapping_taken.exchange(true);
    if (map) CatchBusErrors();
    for (int64_t k; (k = next++) < segments;) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        if (k > stop_segment) break;
      }
      // Markers that start in this segment, read whole.
      const int64_t start = SegmentStart(k);
      const int64_t end = std::min(SegmentStart(k + 1) + kMarkerLength - 1, size);
      const SegmentResult result =
          map ? MapSegment(fd, start, end) : ReadSegment(fd, start, end, buffer);
      if (result.marker >= 0 || !result.clean) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (k < stop_segment) {
          stop_segment = k;
          stop_result = result;
        }
      }
    }
    if (map) mapping_taken = false;
  }
};

void* HelperMain(void* search) {
  char buffer[kScanBufferSize];
  static_cast<Search*>(search)->Run(buffer);
  return nullptr;
}

bool TakeHelper() {
  int free = free_helpers.load();
  while (free > 0 && !free_helpers.compare_exchange_weak(free, free - 1)) {
  }
  return free > 0;
}

}  // namespace

void AllowLargeFileSearch(int helpers, int64_t least, int64_t segment) {
  free_helpers = helpers;
  segment_length = std::max<int64_t>(segment, sysconf(_SC_PAGESIZE));
  least_length = std::max<int64_t>(least, int64_t{2} * kMarkerLength);
}

bool IsLargeRest(int64_t from, int64_t size) {
  return size - from >= least_length;
}

int64_t SearchLargeFile(int fd, int64_t from, int64_t size, char* buffer) {
  Search search(fd, from, size, segment_length);
  pthread_t helper;
  bool helped = false;
  if (search.segments > 1 && TakeHelper()) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // The buffer lives on the stack; sanitizers want room of their own.
    pthread_attr_setstacksize(&attributes, size_t{1} << 20);
    helped = pthread_create(&helper, &attributes, HelperMain, &search) == 0;
    pthread_attr_destroy(&attributes);
    if (!helped) ++free_helpers;
  }
  search.Run(buffer);
  if (helped) {
    pthread_join(helper, nullptr);
    ++free_helpers;
  }
  if (search.stop_segment == INT64_MAX) return kNoMarker;
  return search.stop_result.clean ? search.stop_result.marker : kUnsure;
}

}  // namespace korrin
