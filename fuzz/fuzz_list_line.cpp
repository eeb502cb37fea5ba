// SPDX-License-Identifier: MIT
// The list file's lines over arbitrary bytes: line splitting, base name,
// external name and path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/list_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("korrin-fuzz", 0);
  static char buffer[korrin::ListLine::kLongestPath + 100];
  if (size == 0) return 0;
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    std::abort();
  }
  lseek(fd, 0, SEEK_SET);
  korrin::ListReader reader(fd, buffer, sizeof buffer);
  korrin::ListLine list_line;
  size_t lines = 0;
  while (reader.Next(&list_line)) {
    ++lines;
    if (list_line.too_long) continue;
    const std::string_view line = list_line.text;
    if (line.size() > korrin::ListLine::kLongestPath || line.find('\0') != std::string_view::npos ||
        line.data()[line.size()] != '\0') {
      std::abort();
    }
    char name[9];
    korrin::ExternalName(line, name);
    const size_t length = strnlen(name, sizeof name);
    if (length > 8 || std::memchr(name, '.', length) != nullptr) std::abort();
    // The name is a prefix of the base name, which ends the line.
    const std::string_view base = korrin::BaseName(line);
    if (base.substr(0, length) != std::string_view(name, length)) std::abort();
    if (line.substr(line.size() - base.size()) != base) std::abort();
  }
  // Every newline ends a line; bytes after the last one are a line too.
  size_t newlines = 0;
  for (size_t k = 0; k < size; ++k) newlines += data[k] == '\n';
  if (lines != newlines + (data[size - 1] != '\n') || reader.Failed()) std::abort();
  return 0;
}
