// SPDX-License-Identifier: MIT
#include "reader/text.h"

#include <cstring>

namespace korrin {

int FindBytes(int count, const char* data, const char* pattern) {
  const long length = static_cast<long>(std::strlen(pattern));
  if (count <= 0 || length > count) return -1;
  if (length == 0) return 0;
  // Candidates are the places of the pattern's first byte.
  const char* const last = data + (count - length);
  for (const char* p = data; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, pattern[0], static_cast<size_t>(last - p) + 1));
    if (p == nullptr) break;
    if (std::memcmp(p, pattern, static_cast<size_t>(length)) == 0) {
      return static_cast<int>(p - data);
    }
  }
  return -1;
}

void UpperCase(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

}  // namespace korrin
