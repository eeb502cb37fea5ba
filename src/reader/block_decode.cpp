// SPDX-License-Identifier: MIT
#include "reader/block_decode.h"

#include <algorithm>
#include <cstring>

namespace korrin {
namespace {

// Start of each field relative to the anchor, per layout, in the order
// session, library, code, user, time, date.
constexpr int kFieldCount = 6;
constexpr int kFieldStarts[][kFieldCount] = {
    /* A */ {-16, -11, 0, 6, 14, 26},
    /* B */ {-38, -33, -22, -16, -8, 12},
    /* C */ {-16, -11, 0, 6, 14, 34},
    /* D */ {-22, -17, -6, 16, 8, 28},
    /* E */ {-19, -13, 0, 7, 15, 35},
    /* F */ {-44, -38, -25, -18, -10, 10},
    /* G */ {-22, -17, -6, 0, 8, 28},
};

// Layouts B to F are chosen by one separator at a distance from the anchor.
struct Selector {
  int offset;
  char separator;
  Layout layout;
};
constexpr Selector kSelectors[] = {
    {-3, ':', Layout::B}, {-3, '/', Layout::C}, {-9, '/', Layout::D},
    {-4, '/', Layout::E}, {-4, ':', Layout::F},
};

// Copies up to `width` bytes from `start`, ending the value at the first NUL
// or at the window's edge, and fills the rest of the field with NULs.
void CopyField(char* field, int width, const Window& window, long start) {
  size_t length = 0;
  if (start >= 0 && start < window.length) {  // a field that starts outside is empty
    const long end = std::min(start + width, static_cast<long>(window.length));
    length = strnlen(window.data + start, static_cast<size_t>(end - start));
    std::memcpy(field, window.data + start, length);
  }
  std::memset(field + length, 0, static_cast<size_t>(width) - length + 1);
}

}  // namespace

Layout ChooseLayout(const char* name, const Window& window, int anchor) {
  if (std::strcmp(name, "CRVP80") == 0 || std::strcmp(name, "CRVP82") == 0) return Layout::A;
  for (const Selector& s : kSelectors) {
    if (window.At(static_cast<long>(anchor) + s.offset) == s.separator) return s.layout;
  }
  return Layout::G;
}

void DecodeBlock(const char* name, const Window& window, int anchor,
                 GenerationConstants* constants) {
  const int* starts = kFieldStarts[static_cast<int>(ChooseLayout(name, window, anchor))];
  const struct {
    char* field;
    int width;
  } fields[kFieldCount] = {
      {constants->session, 5}, {constants->library, 3}, {constants->code, 6},
      {constants->user, 8},    {constants->time, 8},    {constants->date, 10},
  };
  for (int f = 0; f < kFieldCount; ++f) {
    CopyField(fields[f].field, fields[f].width, window, static_cast<long>(anchor) + starts[f]);
  }
}

}  // namespace korrin
