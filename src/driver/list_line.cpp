#include "driver/list_line.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace korrin {

std::string_view BaseName(std::string_view line) {
  for (const char separator : {'/', '\\', ':'}) {
    const size_t p = line.rfind(separator);
    if (p != std::string_view::npos) return line.substr(p + 1);
  }
  return line;
}

void TakeListLine(std::string_view line, ProgramRef& ref) {
  std::string_view name = BaseName(line);
  name = name.substr(0, std::min(name.find('.'), sizeof ref.ExtName - 1));
  std::memset(ref.ExtName, 0, sizeof ref.ExtName);
  name.copy(ref.ExtName, name.size());
  ref.Path.assign(line);
}

ListReader::~ListReader() {
  std::free(data_);
}

bool ListReader::Next(std::string_view* text) {
  const ssize_t got = getline(&data_, &capacity_, list_);
  if (got < 0) return false;
  size_t len = std::strlen(data_);  // a NUL ends the text
  if (len == static_cast<size_t>(got) && len > 0 && data_[len - 1] == '\n') --len;
  *text = std::string_view(data_, len);
  return true;
}

}  // namespace korrin
