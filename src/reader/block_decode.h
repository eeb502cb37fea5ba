// SPDX-License-Identifier: MIT
// Decoding the generation constants of a block around its anchor.
#pragma once

#include "common/program_record.h"
#include "reader/window.h"

namespace korrin {

// The block arrangements the decoder knows, in the order they are tried:
// each is a form of the block with the anchor on a given field.
enum class Layout {
  ShortAtCode,          // the short form (no program name), anchored on the code
  PlainAtName,          // the plain form, anchored on the program name
  PlainAtCode,          // the plain form, anchored on the code
  NameAfterCodeAtName,  // the name right after the code, anchored on the name
  GappedAtCode,         // one byte between fields, anchored on the code
  GappedAtName,         // one byte between fields, anchored on the program name
  PlainAtUser,          // the plain form, anchored on the user code: when no test holds
};

// The layout of the block around `anchor`: ShortAtCode for the two special
// program names, else the first whose separator stands at its distance
// before the anchor, else PlainAtUser.
Layout ChooseLayout(const char* name, const Window& window, int anchor);

// Copies the six constants of the block around `anchor` into `constants`.
// Nothing is validated; a field ends at its first NUL or at the window's edge.
void DecodeBlock(const char* name, const Window& window, int anchor,
                 GenerationConstants* constants);

}  // namespace korrin
