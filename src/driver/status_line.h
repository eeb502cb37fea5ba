// The console status line of option -R: one terminal line that every new
// message replaces, through the terminal library's termcap interface.
#pragma once

namespace korrin {

// The three termcap calls the status line needs; tests put doubles here.
struct TermLib {
  int (*getent)(char* bp, const char* name);
  char* (*getstr)(const char* id, char** area);
  int (*puts)(const char* str, int affcnt, int (*putc)(int));
};

// The curses library of the system.
const TermLib& CursesTermLib();

// Looks up "up" and "ce" once, for the empty terminal name. Runs first of
// all, on every run, whatever the options.
void TermSetup(const TermLib& lib = CursesTermLib());

// Writes `text` to standard output, then the cursor-up and clear-line
// sequences, through the same buffered stream.
void Affiche(const char* text);

// Output routine handed to the library: one byte to standard output.
int impcar(int c);

// The capability strings found by TermSetup, or null.
const char* TermUp();
const char* TermCe();

}  // namespace korrin
