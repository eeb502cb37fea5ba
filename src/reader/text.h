// SPDX-License-Identifier: MIT
// The upper-casing of the external name before the block search.
#pragma once

namespace korrin {

// Upper-cases 'a'..'z' in place, up to the terminating NUL; other bytes,
// those of 128 and above included, stay as they are.
void UpperCase(char* text);

}  // namespace korrin
