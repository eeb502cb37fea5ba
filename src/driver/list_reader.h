// SPDX-License-Identifier: MIT
// The list file: one program path per line.
#pragma once

#include <cstdio>
#include <string_view>

namespace korrin {

// The part after the last '/', or if there is none the last '\', or if there
// is none the last ':'; the whole text when it holds none of them.
std::string_view BaseName(std::string_view line);

// The program's external name: the base name up to its first '.', at most
// 8 characters, NUL-terminated in `name`.
void ExternalName(std::string_view line, char (&name)[9]);

// Reads a list file line by line, whatever the line length: a line's text
// ends before its newline or at its first NUL; a last line without a newline
// is still a line.
class ListReader {
 public:
  explicit ListReader(FILE* list) : list_(list) {}
  ~ListReader();
  ListReader(const ListReader&) = delete;
  ListReader& operator=(const ListReader&) = delete;

  // The next line's text, NUL-terminated in place and valid until the next
  // call; false at the end or on a read error.
  bool Next(std::string_view* text);
  // True when the reading stopped before the end of the file: a read error,
  // or no memory left for a line.
  bool Failed() const { return std::ferror(list_) != 0 || std::feof(list_) == 0; }

 private:
  FILE* list_;
  char* line_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace korrin
