// SPDX-License-Identifier: MIT
// A forward-only view of an open program file through one fixed buffer.
#pragma once

#include <cstdint>

#include "common/alignment.h"
#include "reader/large_file_search.h"

namespace korrin {

// The buffer through which a thread reads program files. Its size bounds
// the memory of a scan whatever the file sizes.
constexpr int kScanBufferSize = 128 * 1024;
struct alignas(kPageAlignment) ScanBuffer {
  char bytes[kScanBufferSize];
};

// What a thread brings to the scan of a program file: its buffer, and how a
// large file's rest is searched, and with whose help.
struct ScanContext {
  ScanBuffer* buffer = nullptr;
  LargeFileSettings large_files;
  SearchHelpers* helpers = nullptr;  // none: the thread searches alone
  // Each request read by one pread of exactly its bytes at its place, and no
  // search ahead: the reading at its plainest, which the tests and the fuzz
  // target hold the buffered and segmented reading to.
  bool plain_reads = false;
};

// The scan asks for the bytes at increasing positions; the view reads the
// file forward with large reads, so bytes already read are never read again,
// and a request past what it holds skips the bytes between.
class FileBytes {
 public:
  // `size` is the file's size when it was opened; 0 or -1 when it tells
  // nothing (an empty-looking special file), in which case the view reads on
  // until a read returns 0.
  FileBytes(int fd, int64_t size, const ScanContext& context);

  // Points `bytes` at the bytes from `from` on and returns how many there
  // are: `count`, or fewer at the end of the file. `from` never goes back
  // before the start of an earlier request's bytes.
  int Get(int64_t from, int count, const char** bytes);

  // Once the scan has gone from `quiet_from` to `from` without meeting a
  // marker, and that stretch is long: the position of the first marker
  // wholly in the file from `from` on, or kNoMarker. kUnsure when it was not
  // searched so (the scan then reads on as usual); the view keeps what it
  // holds unless the search ran.
  int64_t SearchAhead(int64_t from, int64_t quiet_from);

  // True when a read failed: the file then ends where the bytes read end.
  bool ReadFailed() const { return read_failed_; }

 private:
  void Fill(int64_t from, int64_t end);
  int ReadPlainly(int64_t from, int count, const char** bytes);

  int fd_;
  int64_t size_;
  const ScanContext& context_;
  char* const buffer_;
  char* data_;               // the bytes held, in buffer_
  int64_t data_start_ = 0;   // file position of data_[0]
  int64_t data_length_ = 0;  // bytes held from data_start_ on
  bool at_end_ = false;
  bool read_failed_ = false;
  bool may_search_ahead_ = true;  // until a search of this file was unsure
  int64_t next_read_;             // size of the next read
};

}  // namespace korrin
