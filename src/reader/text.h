// Small byte-string helpers of the block search.
#pragma once

namespace korrin {

// Smallest index j with j + strlen(pattern) <= count at which the first
// `count` bytes of `data` hold `pattern`; -1 if none or if count <= 0.
int strnsrch(int count, const char* data, const char* pattern);

// Upper-cases 'a'..'z' in place, up to the terminating NUL.
void majuscule(char* text);

}  // namespace korrin
