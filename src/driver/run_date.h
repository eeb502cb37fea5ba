// The run date printed in every page's title line.
#pragma once

#include <ctime>

namespace korrin {

// Formats `t` as DD/MM/YYYY (French) or YYYY/MM/DD (English) into `out`,
// with the full calendar year.
void FormatDateJour(const std::tm& t, bool french, char (&out)[40]);

}  // namespace korrin
