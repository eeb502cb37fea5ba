// SPDX-License-Identifier: MIT
#include "driver/list_reader.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace korrin {

std::string_view BaseName(std::string_view line) {
  for (const char separator : {'/', '\\', ':'}) {
    const size_t at = line.rfind(separator);
    if (at != std::string_view::npos) return line.substr(at + 1);
  }
  return line;
}

void ExternalName(std::string_view line, char (&name)[9]) {
  std::string_view base = BaseName(line);
  base = base.substr(0, std::min(base.find('.'), sizeof name - 1));
  std::memset(name, 0, sizeof name);
  base.copy(name, base.size());
}

ListReader::~ListReader() {
  std::free(line_);
}

bool ListReader::Next(std::string_view* text) {
  const ssize_t got = getline(&line_, &capacity_, list_);
  if (got < 0) return false;
  size_t length = std::strlen(line_);  // a NUL ends the text
  if (length == static_cast<size_t>(got) && length > 0 && line_[length - 1] == '\n') {
    line_[--length] = '\0';
  }
  *text = std::string_view(line_, length);
  return true;
}

}  // namespace korrin
