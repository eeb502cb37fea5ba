// SPDX-License-Identifier: MIT
// What the report prints for one line of the list: the program's name and,
// when its constant block was found, the generation constants decoded from
// it; and what the reader found of the listed file, which the records of
// --csv and --json print too.
#pragma once

#include <cstdint>

namespace korrin {

// The generation constants, in the order they stand in the block.
enum class Constant { Session, Library, Code, User, Time, Date };
constexpr int kConstantCount = 6;

// The width of each constant in the block, in the order of Constant: the
// one statement of these widths, which the record's capacities, the decoder
// and the report's columns take.
constexpr int kConstantWidths[kConstantCount] = {5, 3, 6, 8, 8, 10};
constexpr int WidthOf(Constant constant) {
  return kConstantWidths[static_cast<int>(constant)];
}

// The generation constants, each a NUL-terminated text of its width plus the
// terminator, copied byte for byte from the block.
struct GenerationConstants {
  char session[WidthOf(Constant::Session) + 1] = {};  // session number of the generation
  char library[WidthOf(Constant::Library) + 1] = {};  // library code
  char code[WidthOf(Constant::Code) + 1] = {};  // the program's code in the generation environment
  char user[WidthOf(Constant::User) + 1] = {};  // code of the user who generated the program
  char time[WidthOf(Constant::Time) + 1] = {};  // generation time, as stored
  char date[WidthOf(Constant::Date) + 1] = {};  // generation date, as stored (day first)

  // The text of one constant: WidthOf(constant) + 1 bytes.
  char* Text(Constant constant) {
    switch (constant) {
      case Constant::Session:
        return session;
      case Constant::Library:
        return library;
      case Constant::Code:
        return code;
      case Constant::User:
        return user;
      case Constant::Time:
        return time;
      case Constant::Date:
        return date;
    }
    return nullptr;
  }
  const char* Text(Constant constant) const {
    return const_cast<GenerationConstants*>(this)->Text(constant);
  }
};

// One list line, built afresh for every line.
struct ProgramRecord {
  static constexpr int kNameWidth = 8;
  char name[kNameWidth + 1] = {};  // external name: base name up to its first '.', upper-cased
  bool found = false;              // the block was found and decoded into `constants`
  GenerationConstants constants;
};

// A failure of the machine rather than of the file named: worth a message.
// A missing file, a directory or a file without permission is none.
enum class FileError {
  None,
  // The open failed because descriptors or memory ran out or for an I/O
  // error, or fstat failed.
  Open,
  Read,  // a read failed: the file was scanned as far as it could be read
};

// What the reader found in one listed file.
struct ProgramScan {
  bool opened = false;  // a regular file that could be opened
  FileError error = FileError::None;
  int64_t size = 0;      // its size when opened
  ProgramRecord record;  // the upper-cased name, and the constants if found
};

}  // namespace korrin
