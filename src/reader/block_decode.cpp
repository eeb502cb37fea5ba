// SPDX-License-Identifier: MIT
#include "reader/block_decode.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace korrin {
namespace {

// Start of each constant relative to the anchor, per layout, in the order of
// Constant (session, library, code, user, time, date).
constexpr int kFieldStarts[][kConstantCount] = {
    /* ShortAtCode */ {-16, -11, 0, 6, 14, 26},
    /* PlainAtName */ {-38, -33, -22, -16, -8, 12},
    /* PlainAtCode */ {-16, -11, 0, 6, 14, 34},
    /* NameAfterCodeAtName */ {-22, -17, -6, 16, 8, 28},
    /* GappedAtCode */ {-19, -13, 0, 7, 15, 35},
    /* GappedAtName */ {-44, -38, -25, -18, -10, 10},
    /* PlainAtUser */ {-22, -17, -6, 0, 8, 28},
};
static_assert(std::size(kFieldStarts) == static_cast<int>(Layout::PlainAtUser) + 1);

// The generator's own two programs write their block in the short form,
// which holds no program name; their code is their name, so the name found
// after the marker is the code's first byte.
constexpr const char* kShortFormNames[] = {"CRVP80", "CRVP82"};

// The other layouts are chosen by one separator at a distance from the
// anchor: a ':' of the time or a '/' of the short date.
struct Selector {
  int offset;
  char separator;
  Layout layout;
};
constexpr Selector kSelectors[] = {
    {-3, ':', Layout::PlainAtName},         {-3, '/', Layout::PlainAtCode},
    {-9, '/', Layout::NameAfterCodeAtName}, {-4, '/', Layout::GappedAtCode},
    {-4, ':', Layout::GappedAtName},
};

// Copies up to `width` bytes from `start`, ending the value at the first NUL
// or at the window's edge, and fills the rest of the field, and its
// terminator, with NULs: width + 1 bytes in all.
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
  for (const char* special : kShortFormNames) {
    if (std::strcmp(name, special) == 0) return Layout::ShortAtCode;
  }
  for (const Selector& s : kSelectors) {
    if (window.At(static_cast<long>(anchor) + s.offset) == s.separator) return s.layout;
  }
  return Layout::PlainAtUser;
}

void DecodeBlock(const char* name, const Window& window, int anchor,
                 GenerationConstants* constants) {
  const int* starts = kFieldStarts[static_cast<int>(ChooseLayout(name, window, anchor))];
  for (int k = 0; k < kConstantCount; ++k) {
    const auto constant = static_cast<Constant>(k);
    // Text() holds WidthOf() + 1 bytes: what CopyField writes.
    CopyField(constants->Text(constant), WidthOf(constant), window,
              static_cast<long>(anchor) + starts[k]);
  }
}

}  // namespace korrin
