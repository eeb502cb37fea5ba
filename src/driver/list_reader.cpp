// SPDX-License-Identifier: MIT
#include "driver/list_reader.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/alignment.h"

namespace korrin {

std::string_view BaseName(std::string_view line) {
  for (const char separator : {'/', '\\', ':'}) {
    const size_t at = line.rfind(separator);
    if (at != std::string_view::npos) return line.substr(at + 1);
  }
  return line;
}

void ExternalName(std::string_view line, char (&name)[ProgramRecord::kNameWidth + 1]) {
  std::string_view base = BaseName(line);
  base = base.substr(0, std::min(base.find('.'), sizeof name - 1));
  std::memset(name, 0, sizeof name);
  base.copy(name, base.size());
}

namespace {

bool IsRegularFile(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// True when a read of `fd` would return at once; waits up to `timeout` ms.
bool Readable(int fd, int timeout) {
  pollfd entry = {fd, POLLIN, 0};
  return poll(&entry, 1, timeout) > 0;
}

}  // namespace

ListReader::ListReader(int fd, char* buffer, size_t capacity)
    : fd_(fd), buffer_(buffer), capacity_(capacity - 1), regular_(IsRegularFile(fd)) {}

bool ListReader::HasLineEnd() const {
  return ended_ || failed_ || std::memchr(buffer_ + begin_, '\n', end_ - begin_) != nullptr;
}

bool ListReader::TakeLine(ListLine* line) {
  const auto* newline = static_cast<char*>(std::memchr(buffer_ + begin_, '\n', end_ - begin_));
  size_t line_end = end_;
  if (newline != nullptr) {
    line_end = static_cast<size_t>(newline - buffer_);
  } else if (!(ended_ || failed_) || (begin_ == end_ && !skipping_)) {
    return false;  // no whole line yet, or nothing left
  }
  size_t start = begin_;
  size_t length = strnlen(buffer_ + begin_, line_end - begin_);
  bool too_long = length > ListLine::kLongestPath;
  if (skipping_) {  // the text is what was kept of the line's start
    start = 0;
    length = kept_;
    too_long = skipped_too_long_;
    skipping_ = false;
  }
  begin_ = newline != nullptr ? line_end + 1 : end_;
  buffer_[start + length] = '\0';  // its NUL, or its newline, or past the last byte
  *line = too_long ? ListLine{{}, true} : ListLine{{buffer_ + start, length}, false};
  return true;
}

void ListReader::MakeRoom() {
  if (skipping_) {  // nothing of the line's rest is wanted
    begin_ = end_ = kept_;
    return;
  }
  const size_t unread = end_ - begin_;
  if (unread + kReadAlignment < capacity_) {
    // The unread bytes end where the next read lands, aligned.
    const size_t lead = (kReadAlignment - unread % kReadAlignment) % kReadAlignment;
    std::memmove(buffer_ + lead, buffer_ + begin_, unread);
    begin_ = lead;
    end_ = lead + unread;
    return;
  }
  std::memmove(buffer_, buffer_ + begin_, unread);
  begin_ = 0;
  end_ = unread;
  if (end_ < capacity_) return;
  // A line longer than the buffer: keep its text's start if the text is
  // short, and drop the rest of the line as it comes.
  const size_t text = strnlen(buffer_, capacity_);
  skipping_ = true;
  skipped_too_long_ = text > ListLine::kLongestPath;
  kept_ = skipped_too_long_ ? 0 : text;
  begin_ = end_ = kept_;
}

bool ListReader::ReadMore(bool wait) {
  if (!wait && !regular_ && !Readable(fd_, 0)) return false;
  MakeRoom();
  for (;;) {
    const ssize_t got = read(fd_, buffer_ + end_, capacity_ - end_);
    if (got > 0) {
      end_ += static_cast<size_t>(got);
    } else if (got == 0) {
      // The end of a file is the list's end only once every line before it
      // is reported, as a run of one line at a time finds it. A file that
      // the run's output grows may have grown by then. A pipe's or a
      // terminal's end is the end the first time a read returns it.
      if (!wait && regular_) return false;
      ended_ = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {  // a list left non-blocking
      if (!wait) return false;
      Readable(fd_, -1);
      continue;
    } else {
      failed_ = true;
    }
    return true;
  }
}

bool ListReader::Next(ListLine* line) {
  for (;;) {
    if (TakeLine(line)) return true;
    if (ended_ || failed_) return false;
    ReadMore(true);
  }
}

bool ListReader::LineReady() {
  while (!HasLineEnd()) {
    if (!ReadMore(false)) return false;
  }
  return true;
}

}  // namespace korrin
