// SPDX-License-Identifier: MIT
// The bytes that follow one marker in a program file: where the search looks
// for the program's name and the decoder reads the constant block.
#pragma once

namespace korrin {

struct Window {
  const char* data = nullptr;
  int length = 0;  // at most 200; shorter near the end of the file

  // The byte at `position`, or -1 when the position lies outside the window:
  // bytes outside it belong to no block and are never read.
  int At(long position) const {
    return position >= 0 && position < length ? static_cast<unsigned char>(data[position]) : -1;
  }
};

}  // namespace korrin
