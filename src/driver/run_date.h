// SPDX-License-Identifier: MIT
// The run date printed in every page's title line.
#pragma once

#include <ctime>

#include "common/language.h"

namespace korrin {

// Room for the date of any year; it is 10 characters until the year 9999.
constexpr int kRunDateSize = 40;

// Formats `t` as DD/MM/YYYY in French or YYYY/MM/DD in English into `out`,
// with the full calendar year.
void FormatRunDate(const std::tm& t, Language language, char (&out)[kRunDateSize]);

}  // namespace korrin
