#include "reader/text.h"

#include <cstring>

namespace korrin {

int strnsrch(int count, const char* data, const char* pattern) {
  const long len = static_cast<long>(std::strlen(pattern));
  for (long j = 0; j < count && j + len <= count; ++j) {
    if (std::memcmp(data + j, pattern, static_cast<size_t>(len)) == 0) return static_cast<int>(j);
  }
  return -1;
}

void majuscule(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

}  // namespace korrin
