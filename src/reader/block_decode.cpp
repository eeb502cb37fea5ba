#include "reader/block_decode.h"

#include <algorithm>
#include <cstring>

namespace korrin {
namespace {

// Start of each field relative to the anchor, per layout, in the order
// Session, Library, CrvCode, UserCode, GenTime, GenDate.
constexpr int kFieldCount = 6;
constexpr int kStarts[][kFieldCount] = {
    /* A */ {-16, -11, 0, 6, 14, 26},
    /* B */ {-38, -33, -22, -16, -8, 12},
    /* C */ {-16, -11, 0, 6, 14, 34},
    /* D */ {-22, -17, -6, 16, 8, 28},
    /* E */ {-19, -13, 0, 7, 15, 35},
    /* F */ {-44, -38, -25, -18, -10, 10},
    /* G */ {-22, -17, -6, 0, 8, 28},
};

// Layouts B to F are chosen by one separator at a distance before the anchor.
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
// or absent byte, and fills the rest of the field with NULs.
void CopyField(char* field, int width, const Window& window, long start) {
  size_t len = 0;
  if (start >= 0 && start < window.w) {  // a field that starts outside is empty
    const long end = std::min(start + width, static_cast<long>(window.w));
    len = strnlen(window.data + start, static_cast<size_t>(end - start));
    std::memcpy(field, window.data + start, len);
  }
  std::memset(field + len, 0, static_cast<size_t>(width) - len + 1);
}

// DD/MM/YYYY becomes YYYY/MM/DD, moving the ten bytes as they stand.
void YearFirst(char* date) {
  char d[10];
  std::memcpy(d, date, sizeof d);
  constexpr int kOrder[10] = {6, 7, 8, 9, 2, 3, 4, 5, 0, 1};
  for (int k = 0; k < 10; ++k) date[k] = d[kOrder[k]];
}

}  // namespace

Layout ChooseLayout(const char* ext_name, const Window& window, int anchor) {
  if (std::strcmp(ext_name, "CRVP80") == 0 || std::strcmp(ext_name, "CRVP82") == 0) {
    return Layout::A;
  }
  for (const Selector& s : kSelectors) {
    if (window.At(static_cast<long>(anchor) + s.offset) == s.separator) return s.layout;
  }
  return Layout::G;
}

void LireRefCrv(ProgramRef& ref, const Window& window, int anchor, bool french) {
  const int* starts = kStarts[static_cast<int>(ChooseLayout(ref.ExtName, window, anchor))];
  struct {
    char* field;
    int width;
  } const fields[kFieldCount] = {
      {ref.Session, 5},  {ref.Library, 3}, {ref.CrvCode, 6},
      {ref.UserCode, 8}, {ref.GenTime, 8}, {ref.GenDate, 10},
  };
  for (int f = 0; f < kFieldCount; ++f) {
    CopyField(fields[f].field, fields[f].width, window, static_cast<long>(anchor) + starts[f]);
  }
  if (!french) YearFirst(ref.GenDate);
}

}  // namespace korrin
