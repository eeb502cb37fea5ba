// SPDX-License-Identifier: MIT
// Decoding the generation constants of a block around its anchor.
#pragma once

#include "common/program_record.h"
#include "reader/window.h"

namespace korrin {

// The block arrangements, in the order they are tried.
enum class Layout { A, B, C, D, E, F, G };

// The layout of the block around `anchor`: A for the two special program
// names, else the first of B to F whose separator stands at its distance
// before the anchor, else G.
Layout ChooseLayout(const char* name, const Window& window, int anchor);

// Copies the six constants of the block around `anchor` into `constants`.
// Nothing is validated; a field ends at its first NUL or at the window's edge.
void DecodeBlock(const char* name, const Window& window, int anchor,
                 GenerationConstants* constants);

}  // namespace korrin
