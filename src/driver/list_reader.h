// SPDX-License-Identifier: MIT
// The list file: one program path per line.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/program_record.h"

namespace korrin {

// The part after the last '/', or if there is none the last '\', or if there
// is none the last ':'; the whole text when it holds none of them.
std::string_view BaseName(std::string_view line);

// The program's external name: the base name up to its first '.', at most
// 8 characters, NUL-terminated in `name`.
void ExternalName(std::string_view line, char (&name)[ProgramRecord::kNameWidth + 1]);

// One line of the list: its text ends before its newline or at its first
// NUL. A text longer than kLongestPath bytes cannot name a file (the system
// refuses such paths), so nothing of it is kept: only that it was too long.
struct ListLine {
  static constexpr size_t kLongestPath = 4095;
  std::string_view text;  // NUL-terminated in place; empty when too long
  bool too_long = false;
};

// Reads the list file open on `fd` through a fixed buffer of `capacity`
// bytes (more than kLongestPath), whatever the line lengths; a last line
// without a newline is still a line.
class ListReader {
 public:
  ListReader(int fd, char* buffer, size_t capacity);
  ListReader(const ListReader&) = delete;
  ListReader& operator=(const ListReader&) = delete;

  // The next line, valid until the next call; false at the end or after a
  // read error. Waits for the list's writer when the list is a pipe or a
  // terminal with no whole line ready.
  bool Next(ListLine* line);
  // True when a whole line is there for Next to return at once, or the end
  // of a pipe or a terminal. False when Next would wait for the list's
  // writer, and at the end of a list file, which Next then confirms: that
  // end is only taken once the lines before it are all reported.
  bool LineReady();
  // True when a read of the list failed.
  bool Failed() const { return failed_; }

 private:
  bool TakeLine(ListLine* line);
  bool HasLineEnd() const;
  bool ReadMore(bool wait);
  void MakeRoom();

  int fd_;
  char* buffer_;
  size_t capacity_;   // one byte is kept for the NUL of a last line
  bool regular_;      // a file's reads never wait for a writer
  size_t begin_ = 0;  // the unread bytes are [begin_, end_)
  size_t end_ = 0;
  // A line longer than the buffer: its text's first `kept_` bytes stay at
  // the buffer's start while the rest of the line is read and dropped.
  bool skipping_ = false;
  bool skipped_too_long_ = false;
  size_t kept_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace korrin
