// SPDX-License-Identifier: MIT
#include "reader/text.h"

#include <cstring>

#include "reader/pattern_search.h"

namespace korrin {

int FindBytes(int count, const char* data, const char* pattern) {
  const auto length = static_cast<int>(std::strlen(pattern));
  if (count <= 0 || length > count) return -1;
  if (length == 0) return 0;
  return FindPattern(data, count, {pattern, length});
}

void UpperCase(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

}  // namespace korrin
