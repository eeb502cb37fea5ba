// SPDX-License-Identifier: MIT
// The bytes of an open program file, read forward through one fixed buffer.
#pragma once

#include <cstdint>

#include "common/alignment.h"

namespace korrin {

// The buffer through which program files are read, one per reader. Its
// size bounds the memory of a scan whatever the file sizes.
constexpr int kScanBufferSize = 128 * 1024;
struct alignas(kPageAlignment) ScanBuffer {
  char bytes[kScanBufferSize];
};

// The bytes of a file as the scan asks for them, at positions that only move
// forward: `from` never goes back before the start of an earlier request.
class ScanBytes {
 public:
  // Points `bytes` at the bytes from `from` on and returns how many there
  // are: `count`, or fewer at the end of the file.
  virtual int Get(int64_t from, int count, const char** bytes) = 0;

 protected:
  ~ScanBytes() = default;
};

// Reads the file forward with large reads, so bytes already read are never
// read again, and a request past what it holds skips the bytes between.
class FileBytes final : public ScanBytes {
 public:
  // `size` is the file's size when it was opened; 0 or -1 when it tells
  // nothing (an empty-looking special file): reads then go on until one
  // returns 0. The holes of a `sparse` file are not read.
  FileBytes(int fd, int64_t size, bool sparse, ScanBuffer& buffer);

  int Get(int64_t from, int count, const char** bytes) override;
  // The buffer served something else, a far search: what it held is gone.
  void Forget();
  // True when a read failed: the file then ends where the bytes read end.
  bool ReadFailed() const { return read_failed_; }

 private:
  void Fill(int64_t from, int64_t end);

  int fd_;
  int64_t size_;
  bool sparse_;
  char* const buffer_;
  char* data_;               // the bytes held, in buffer_
  int64_t data_start_ = 0;   // file position of data_[0]
  int64_t data_length_ = 0;  // bytes held from data_start_ on
  bool at_end_ = false;
  bool read_failed_ = false;
  int64_t next_read_;  // size of the next read
};

}  // namespace korrin
