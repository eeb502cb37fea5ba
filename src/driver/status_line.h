// SPDX-License-Identifier: MIT
// The console status line of option -R: one terminal line that every new
// message replaces, through the terminal library's termcap interface.
#pragma once

namespace korrin {

// The three termcap calls the status line needs; tests put doubles here.
struct TerminalLibrary {
  int (*load_entry)(char* entry, const char* terminal_name);  // tgetent
  // tgetstr, without a copy: the string stays in the library's entry, so a
  // capability of any length fits. Null when the entry lacks it.
  const char* (*get_string)(const char* capability);
  int (*put_string)(const char* text, int lines, int (*put_byte)(int));  // tputs
};

// The system's curses library.
const TerminalLibrary& SystemTerminalLibrary();

// The terminal the sequences are looked up for: the one TERM names when
// standard output is a terminal; otherwise the empty name, so that what -R
// writes to a file or a pipe does not depend on TERM.
const char* StatusLineTerminal();

// Looks up the cursor-up ("up") and clear-line ("ce") sequences once, for
// `terminal_name`; when that is empty or the library knows no such
// terminal, for the empty name. Runs once, before the first file is
// announced, and only with -R.
void SetUpStatusLine(const char* terminal_name,
                     const TerminalLibrary& library = SystemTerminalLibrary());

// Writes `text` to standard output. Its cursor-up and clear-line sequences
// are held back until the next text or ClearStatusLine, so a terminal shows
// the text while the run waits.
void ShowStatus(const char* text);

// Sends the sequences held back, if any: the status line is then blank.
// Anything else written to standard output is written after it.
void ClearStatusLine();

}  // namespace korrin
