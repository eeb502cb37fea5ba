#include "report/report.h"

#include <cinttypes>
#include <cstring>

namespace korrin {
namespace {

constexpr int kPageFull = 60;

constexpr char kRule[] =
    "-------------------------------------------------------------------------------";

// The texts that change with the language, English first, then French.
struct Texts {
  const char* heading;
  const char* columns1;
  const char* columns2;
  const char* count;
  const char* size;
};
constexpr Texts kTexts[2] = {
    {"                           PROGRAMS GENERATION DATE",
     "I EXTERNAL I CRV    I GENER.     I SESS. I LIB.I UTIL.    I GENER.   I Return I",
     "I NAME     I CODE   I DATE       I NUM.  I     I CODE     I TIME     I code   I",
     "    Number of processed files........: %" PRId64,
     "    Total size.......................: %" PRIu64},
    {"                       DATE DE GENERATION DES PROGRAMMES",
     "I NOM      I CODE   I DATE       I NUM.  I BIB.I CODE     I HEURE    I Code   I",
     "I EXTERNE  I CRV    I GENERE     I SESS. I     I UTIL.    I GENERE   I retour I",
     "    Nombre de fichiers traites.......: %" PRId64,
     "    Taille totale....................: %" PRIu64},
};

// Never written by the program: their columns print as blanks.
constexpr char Prodname[] = "";
constexpr char PRODMAT[] = "";
constexpr char CHARCOB[] = "";

}  // namespace

void Report::EditLigne(int n) {
  if (std::fputs(saut, pEu_) < 0 || std::fputs(ligne, pEu_) < 0 || std::putc('\n', pEu_) < 0) {
    failed_ = true;
  }
  if (std::strcmp(saut, " ") != 0) std::strcpy(saut, " ");
  cptL += n;
}

void Report::EditEnt1() {
  const Texts& t = kTexts[run_.ArgOpf == 1];
  std::strcpy(saut, run_.ArgOpR ? "1" : cptP == 0 ? " " : "\f");
  ++cptP;
  cptL = 0;
  if (run_.ArgOpr) {
    std::snprintf(ligne, sizeof ligne, " %-30.30s %-15.15s %-10.10s %-10.10s Page %3.1d\n",
                  Prodname, PRODMAT, CHARCOB, run_.datejour, cptP);
  } else {
    std::snprintf(ligne, sizeof ligne, " %-30.30s      %-20.20s %-10.10s  Page %3.1d\n", Prodname,
                  PRODMAT, run_.datejour, cptP);
  }
  EditLigne(2);
  for (const char* text : {t.heading, kRule, t.columns1, t.columns2, kRule}) {
    std::snprintf(ligne, sizeof ligne, "%s", text);
    EditLigne(1);
  }
}

void Report::EditRef1(const ProgramRef& ref) {
  if (ref.Status != '1') return;
  // "I %-8.8s I %-6.6s I %-10.10s I %-5.5s I %-3.3s I %-8.8s I %8.8s I %-6.6s I"
  const struct {
    const char* value;
    int width;
    bool right;
  } columns[] = {
      {ref.ExtName, 8, false}, {ref.CrvCode, 6, false}, {ref.GenDate, 10, false},
      {ref.Session, 5, false}, {ref.Library, 3, false}, {ref.UserCode, 8, false},
      {ref.GenTime, 8, true},  {"0", 6, false},
  };
  char* out = ligne;
  for (const auto& c : columns) {
    *out++ = 'I';
    *out++ = ' ';
    const size_t len = strnlen(c.value, static_cast<size_t>(c.width));
    const size_t pad = static_cast<size_t>(c.width) - len;
    if (c.right) out = static_cast<char*>(std::memset(out, ' ', pad)) + pad;
    out = static_cast<char*>(std::memcpy(out, c.value, len)) + len;
    if (!c.right) out = static_cast<char*>(std::memset(out, ' ', pad)) + pad;
    *out++ = ' ';
  }
  *out++ = 'I';
  *out = '\0';
  EditLigne(1);
}

void Report::EditBas() {
  std::snprintf(ligne, sizeof ligne, "%s", kRule);
  EditLigne(1);
}

void Report::EditCrv(const ProgramRef& ref) {
  if (cptL >= kPageFull) EditEnt1();
  EditRef1(ref);
  if (cptL >= kPageFull) EditBas();
}

void Report::EditStats() {
  const Texts& t = kTexts[run_.ArgOpf == 1];
  ligne[0] = '\0';
  EditLigne(1);
  EditLigne(1);
  std::snprintf(ligne, sizeof ligne, t.count, run_.nbP);
  EditLigne(1);
  std::snprintf(ligne, sizeof ligne, t.size, run_.TailleTot);
  EditLigne(1);
}

}  // namespace korrin
