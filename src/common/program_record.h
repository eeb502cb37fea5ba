// SPDX-License-Identifier: MIT
// What the report prints for one line of the list: the program's name and,
// when its constant block was found, the generation constants decoded from it.
#pragma once

namespace korrin {

// The generation constants, each a NUL-terminated text of fixed capacity
// (its width plus the terminator), copied byte for byte from the block.
struct GenerationConstants {
  char code[7] = {};     // the program's code in the generation environment
  char session[6] = {};  // session number of the generation
  char library[4] = {};  // library code
  char user[9] = {};     // code of the user who generated the program
  char time[9] = {};     // generation time, as stored
  char date[11] = {};    // generation date, as stored (day first)
};

// One list line, built afresh for every line.
struct ProgramRecord {
  char name[9] = {};   // external name: base name up to its first '.', upper-cased
  bool found = false;  // the block was found and decoded into `constants`
  GenerationConstants constants;
};

}  // namespace korrin
