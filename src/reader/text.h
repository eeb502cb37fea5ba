// SPDX-License-Identifier: MIT
// Small byte-string helpers of the block search.
#pragma once

namespace korrin {

// The smallest index j at which `pattern` lies wholly within the first
// `count` bytes of `data` (j + strlen(pattern) <= count); -1 if there is
// none or if count <= 0. An empty pattern is found at 0 when count >= 1.
int FindBytes(int count, const char* data, const char* pattern);

// Upper-cases 'a'..'z' in place, up to the terminating NUL; other bytes,
// those of 128 and above included, stay as they are.
void UpperCase(char* text);

}  // namespace korrin
