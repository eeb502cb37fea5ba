// SPDX-License-Identifier: MIT
#include "reader/text.h"

namespace korrin {

void UpperCase(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

}  // namespace korrin
