// SPDX-License-Identifier: MIT
#include "driver/status_line.h"

#include <termcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace korrin {
namespace {

// Terminal state, set once by SetUpStatusLine.
struct Terminal {
  const TerminalLibrary* library = nullptr;
  char entry[1024] = {};  // for the termcap interface; ncurses keeps its own
  const char* cursor_up = nullptr;
  const char* clear_line = nullptr;
  bool sequences_held = false;  // the last text's sequences are not sent yet
};
Terminal terminal;

int CursesLoadEntry(char* entry, const char* name) {
  return tgetent(entry, name);
}
// An area pointer that points to null asks for the entry's own string: the
// library copies nothing, so no capability can overrun an area.
const char* CursesGetString(const char* capability) {
  char* no_area = nullptr;
  return tgetstr(capability, &no_area);
}
int CursesPutString(const char* text, int lines, int (*put_byte)(int)) {
  return text == nullptr ? 0 : tputs(text, lines, put_byte);
}

// The output routine handed to the library: one byte to standard output.
int PutTerminalByte(int byte) {
  return std::putc(byte, stdout);
}

}  // namespace

const TerminalLibrary& SystemTerminalLibrary() {
  static const TerminalLibrary library{CursesLoadEntry, CursesGetString, CursesPutString};
  return library;
}

const char* StatusLineTerminal() {
  const char* name = std::getenv("TERM");
  return isatty(STDOUT_FILENO) == 1 && name != nullptr ? name : "";
}

void SetUpStatusLine(const char* terminal_name, const TerminalLibrary& library) {
  terminal.library = &library;
  // An unknown terminal falls back on the empty name, whose failure only
  // leaves both sequences null.
  if (terminal_name[0] == '\0' || library.load_entry(terminal.entry, terminal_name) != 1) {
    library.load_entry(terminal.entry, "");
  }
  terminal.cursor_up = library.get_string("up");
  terminal.clear_line = library.get_string("ce");
}

void ShowStatus(const char* text) {
  ClearStatusLine();
  std::fputs(text, stdout);
  terminal.sequences_held = terminal.library != nullptr;
}

void ClearStatusLine() {
  if (!terminal.sequences_held) return;
  terminal.sequences_held = false;
  terminal.library->put_string(terminal.cursor_up, 1, PutTerminalByte);
  terminal.library->put_string(terminal.clear_line, 1, PutTerminalByte);
}

}  // namespace korrin
