#include "driver/list_line.h"

#include <algorithm>
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

}  // namespace korrin
