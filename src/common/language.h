// SPDX-License-Identifier: MIT
// The language of the progress label, the run date, the report and the help.
#pragma once

namespace korrin {

enum class Language { English, French };

}  // namespace korrin
