// SPDX-License-Identifier: MIT
// A forward-only view of an open program file through one fixed buffer.
#pragma once

#include <cstdint>

namespace korrin {

// The one buffer through which every program file is read. Its size bounds
// the memory of a run whatever the file sizes.
constexpr int kScanBufferSize = 128 * 1024;
struct ScanBuffer {
  char bytes[kScanBufferSize];
};

// The scan asks for the bytes at increasing positions; the view reads the
// file forward with large reads, so bytes already read are never read again,
// and a request past what it holds skips the bytes between.
class FileBytes {
 public:
  // `size` is the file's size when it was opened; 0 or -1 when it tells
  // nothing (an empty-looking special file), in which case the view reads on
  // until a read returns 0.
  FileBytes(int fd, int64_t size, ScanBuffer& buffer);

  // Points `bytes` at the bytes from `from` on and returns how many there
  // are: `count`, or fewer at the end of the file. `from` never goes back
  // before the start of an earlier request's bytes.
  int Get(int64_t from, int count, const char** bytes);

  // The position of the first marker wholly in the file from `from` on, when
  // the rest is large enough for the large-file search: kNoMarker, or kUnsure
  // when it was not searched so (the scan then reads on as usual; the view
  // keeps what it holds unless the search ran).
  int64_t SearchAhead(int64_t from);

  // True when a read failed: the file then ends where the bytes read end.
  bool ReadFailed() const { return read_failed_; }

 private:
  void Fill(int64_t from, int64_t end);

  int fd_;
  int64_t size_;
  char* data_;
  int64_t data_start_ = 0;   // file position of data_[0]
  int64_t data_length_ = 0;  // bytes held from data_start_ on
  bool at_end_ = false;
  bool read_failed_ = false;
  bool may_search_large_ = true;  // until a large-file search of this file was unsure
  int64_t next_read_;             // size of the next read
};

}  // namespace korrin
