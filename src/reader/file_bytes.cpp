// SPDX-License-Identifier: MIT
#include "reader/file_bytes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "reader/block_search.h"
#include "reader/holes.h"

namespace korrin {

static_assert(sizeof(off_t) >= sizeof(int64_t), "file positions must be 64-bit on every ABI");

// The first read takes the first chunk and the window of a marker that ends
// it: most blocks lie near the start. Each later read asks for twice as
// much, up to the buffer's size.
constexpr int64_t kFirstRead = kChunkSize + 240;

FileBytes::FileBytes(int fd, int64_t size, bool sparse, ScanBuffer& buffer)
    : fd_(fd),
      size_(size),
      sparse_(sparse),
      buffer_(buffer.bytes),
      data_(buffer_),
      next_read_(kFirstRead) {}

int FileBytes::Get(int64_t from, int count, const char** bytes) {
  const int64_t end = from + count;
  if (end > data_start_ + data_length_ && !at_end_) Fill(from, end);
  const int64_t held = std::min(end, data_start_ + data_length_) - from;
  // Past the end nothing is held, and the pointer stays inside the buffer.
  *bytes = held > 0 ? data_ + (from - data_start_) : data_;
  return static_cast<int>(std::max<int64_t>(0, held));
}

void FileBytes::Forget() {
  data_ = buffer_;
  data_length_ = 0;
  at_end_ = false;
}

void FileBytes::Fill(int64_t from, int64_t end) {
  if (from > data_start_ + data_length_) {  // a skip forward: nothing held is wanted
    data_ = buffer_;
    data_start_ = from;
    data_length_ = 0;
  } else if ((data_ - buffer_) + (end - data_start_) > kScanBufferSize) {
    // Keep only what is still wanted, placed so that it ends where the next
    // read lands, on a multiple of kReadAlignment.
    const int64_t keep = data_start_ + data_length_ - from;
    const int64_t lead = (kReadAlignment - keep % kReadAlignment) % kReadAlignment;
    std::memmove(buffer_ + lead, data_ + (from - data_start_), static_cast<size_t>(keep));
    data_ = buffer_ + lead;
    data_start_ = from;
    data_length_ = keep;
  }
  while (data_start_ + data_length_ < end && !at_end_) {
    const int64_t at = data_start_ + data_length_;
    const int64_t room = kScanBufferSize - (data_ - buffer_) - data_length_;
    const int64_t want = std::min(room, std::max(end - at, next_read_));
    const Region region = sparse_ && at < size_ ? RegionAt(fd_, at, std::min(at + want, size_))
                                                : Region{at + want, false};
    ssize_t got = region.end - at;
    if (region.hole) {
      std::memset(data_ + data_length_, 0, static_cast<size_t>(got));
    } else {
      got = pread(fd_, data_ + data_length_, static_cast<size_t>(got), at);
    }
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // the end, or an error: what was read is all there is
      read_failed_ = got < 0;
      at_end_ = true;
      break;
    }
    data_length_ += got;
    // A short read is not the end; but once the size seen at open is
    // reached, the read that would return 0 is spared.
    if (size_ > 0 && data_start_ + data_length_ >= size_) at_end_ = true;
    next_read_ = std::min<int64_t>(next_read_ * 2, kScanBufferSize);
  }
}

}  // namespace korrin
