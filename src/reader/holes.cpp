// SPDX-License-Identifier: MIT
#include "reader/holes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace korrin {

Region RegionAt(int fd, int64_t at, int64_t limit) {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  const int64_t hole = lseek(fd, at, SEEK_HOLE);
  if (hole < at || hole >= limit) return {limit, false};  // data to the limit, or no answer
  const int64_t data = lseek(fd, hole, SEEK_DATA);
  const bool to_the_end = data < 0 && errno == ENXIO;  // no data after the hole
  // A short hole is read: that costs less than the calls that pass it by.
  if (!to_the_end && (data < 0 || data - hole < kShortestHolePassedBy)) return {limit, false};
  if (hole > at) return {hole, false};
  if (!to_the_end) return {std::min(data, limit), true};
  const int64_t end = lseek(fd, 0, SEEK_END);
  if (end >= 0) return {std::clamp(end, at, limit), true};
#else
  (void)fd;
  (void)at;
#endif
  return {limit, false};
}

}  // namespace korrin
