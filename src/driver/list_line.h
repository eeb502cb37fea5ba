// What the driver takes from one line of the list file.
#pragma once

#include <string_view>

#include "reader/program_ref.h"

namespace korrin {

// The part after the last '/', or if there is none the last '\', or if there
// is none the last ':'; the whole text when it holds none of them.
std::string_view BaseName(std::string_view line);

// Sets ExtName (the base name up to its first '.', at most 8 characters)
// and Path (the whole line text) of `ref`.
void TakeListLine(std::string_view line, ProgramRef& ref);

}  // namespace korrin
