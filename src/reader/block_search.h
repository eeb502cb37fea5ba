// SPDX-License-Identifier: MIT
// The search for the constant block in a program file: the marker "WORKING",
// then, in the bytes that follow it, the program's name or a date's slashes.
#pragma once

#include "reader/file_bytes.h"
#include "reader/window.h"

namespace korrin {

constexpr int kChunkSize = 10000;  // bytes searched for the marker at a time
constexpr int kMinChunk = 200;     // a shorter chunk ends the scan: not found
constexpr int kWindowSize = 200;   // bytes after a marker searched for the name

// Scans `file` from its start. Returns the anchor, the position in `window`
// from which the decoder reads the block, or -1 when there is no block.
// `name` is the upper-cased external name.
int FindBlock(FileBytes& file, const char* name, Window* window);

}  // namespace korrin
