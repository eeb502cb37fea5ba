// SPDX-License-Identifier: MIT
// The list file's lines over arbitrary bytes: line splitting, base name,
// external name and path.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/list_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* list = fmemopen(const_cast<uint8_t*>(data), size, "r");
  korrin::ListReader reader(list);
  std::string_view line;
  size_t lines = 0;
  while (reader.Next(&line)) {
    ++lines;
    if (line.find('\0') != std::string_view::npos || line.data()[line.size()] != '\0') {
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
  if (lines != newlines + (data[size - 1] != '\n')) std::abort();
  std::fclose(list);
  return 0;
}
