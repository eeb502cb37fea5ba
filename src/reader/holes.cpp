// SPDX-License-Identifier: MIT
#include "reader/holes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace korrin {

Region RegionAt(int fd, int64_t at, int64_t limit) {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  const int64_t hole = lseek(fd, at, SEEK_HOLE);
  if (hole > at) return {std::min(hole, limit), false};
  if (hole == at) {
    const int64_t data = lseek(fd, at, SEEK_DATA);
    if (data > at) return {std::min(data, limit), true};
    if (data < 0 && errno == ENXIO) {  // no data from here to the end
      const int64_t end = lseek(fd, 0, SEEK_END);
      if (end >= 0) return {std::clamp(end, at, limit), true};
    }
  }
#else
  (void)fd;
#endif
  return {limit, false};
}

}  // namespace korrin
