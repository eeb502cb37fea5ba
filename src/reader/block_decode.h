// Decoding of the generation constants around an anchor in the window.
#pragma once

#include "reader/program_ref.h"

namespace korrin {

// The bytes read after a marker. Positions outside [0, w) are absent.
struct Window {
  const char* data;
  int w;
  // The byte at `pos`, or -1 when the position lies outside the window.
  int At(long pos) const {
    return pos >= 0 && pos < w ? static_cast<unsigned char>(data[pos]) : -1;
  }
};

// The block arrangements, in the order they are tried.
enum class Layout { A, B, C, D, E, F, G };

Layout ChooseLayout(const char* ext_name, const Window& window, int anchor);

// Fills CrvCode, Session, Library, UserCode, GenTime and GenDate of `ref`
// from the window; in English (`french` false) GenDate is put year-first.
void LireRefCrv(ProgramRef& ref, const Window& window, int anchor, bool french);

}  // namespace korrin
