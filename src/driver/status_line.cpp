#include "driver/status_line.h"

#include <termcap.h>

#include <cstdio>

namespace korrin {
namespace {

// Terminal state, set once by TermSetup.
struct Terminal {
  const TermLib* lib = nullptr;
  char TERM[256] = {};  // nothing fills it: the lookup uses the empty name
  char bp[1024] = {};
  char buf[256] = {};
  char* zone = nullptr;
  char* up = nullptr;
  char* ce = nullptr;
};
Terminal term;

int CursesGetent(char* bp, const char* name) {
  return tgetent(bp, name);
}
char* CursesGetstr(const char* id, char** area) {
  return tgetstr(id, area);
}
int CursesPuts(const char* str, int affcnt, int (*putc)(int)) {
  return str == nullptr ? 0 : tputs(str, affcnt, putc);
}

}  // namespace

const TermLib& CursesTermLib() {
  static const TermLib lib{CursesGetent, CursesGetstr, CursesPuts};
  return lib;
}

void TermSetup(const TermLib& lib) {
  term.lib = &lib;
  lib.getent(term.bp, term.TERM);
  term.zone = term.buf;
  term.up = lib.getstr("up", &term.zone);
  term.ce = lib.getstr("ce", &term.zone);
}

int impcar(int c) {
  return std::putc(c, stdout);
}

void Affiche(const char* text) {
  std::fputs(text, stdout);
  if (term.lib == nullptr) return;
  term.lib->puts(term.up, 1, impcar);
  term.lib->puts(term.ce, 1, impcar);
}

const char* TermUp() {
  return term.up;
}
const char* TermCe() {
  return term.ce;
}

}  // namespace korrin
