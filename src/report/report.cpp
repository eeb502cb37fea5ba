// SPDX-License-Identifier: MIT
#include "report/report.h"

#include <cinttypes>
#include <cstring>
#include <initializer_list>

namespace korrin {
namespace {

// A page is full once it counts this many lines: 7 header lines, 53 detail
// lines, then the closing rule makes 61.
constexpr int kPageFull = 60;

constexpr char kRule[] =
    "-------------------------------------------------------------------------------";

// The texts that change with the language, in the order of Language.
struct Texts {
  const char* heading;
  const char* columns1;
  const char* columns2;
  const char* files_listed;
  const char* total_bytes;
};
constexpr Texts kTexts[] = {
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

// The title line: blank columns (where product fields that are always empty
// once stood), the run date, then the page number.
struct TitleLayout {
  int blanks_before_date;
  const char* before_page;
};
constexpr TitleLayout kTitleLayouts[] = {{58, "  "}, {59, " "}};  // without, with the third field

// DD/MM/YYYY becomes YYYY/MM/DD, moving the ten bytes as they stand.
void YearFirst(const char* date, char* out) {
  constexpr int kOrder[10] = {6, 7, 8, 9, 2, 3, 4, 5, 0, 1};
  for (int k = 0; k < 10; ++k) out[k] = date[kOrder[k]];
  out[10] = '\0';
}

}  // namespace

void Report::WriteLine(int counted) {
  if (std::fputs(control_, out_) < 0 || std::fputs(line_, out_) < 0 || std::putc('\n', out_) < 0) {
    write_failed_ = true;
  }
  std::strcpy(control_, " ");
  lines_on_page_ += counted;
}

void Report::StartPage() {
  const Texts& texts = kTexts[static_cast<int>(settings_.language)];
  std::strcpy(control_, settings_.new_page_code_on_every_title ? "1" : page_ == 0 ? " " : "\f");
  ++page_;
  lines_on_page_ = 0;
  const TitleLayout& title = kTitleLayouts[settings_.title_with_third_field ? 1 : 0];
  // The title ends in its own newline: the empty line after it counts too.
  std::snprintf(line_, sizeof line_, "%*s%-10.10s%sPage %3.1d\n", title.blanks_before_date, "",
                settings_.run_date, title.before_page, page_);
  WriteLine(2);
  for (const char* text : {texts.heading, kRule, texts.columns1, texts.columns2, kRule}) {
    std::snprintf(line_, sizeof line_, "%s", text);
    WriteLine(1);
  }
}

void Report::WriteDetail(const ProgramRecord& record) {
  if (!record.found) return;
  const GenerationConstants& c = record.constants;
  char date[11];
  if (settings_.language == Language::English) {
    YearFirst(c.date, date);
  } else {
    std::memcpy(date, c.date, sizeof date);
  }
  const struct {
    const char* value;
    int width;
    bool right_aligned;
  } columns[] = {
      {record.name, 8, false}, {c.code, 6, false}, {date, 10, false}, {c.session, 5, false},
      {c.library, 3, false},   {c.user, 8, false}, {c.time, 8, true}, {"0", 6, false},
  };
  // "I name     I code   I date       I sess. I lib I user     I     time I 0      I"
  char* out = line_;
  for (const auto& column : columns) {
    *out++ = 'I';
    *out++ = ' ';
    const size_t length = strnlen(column.value, static_cast<size_t>(column.width));
    const size_t pad = static_cast<size_t>(column.width) - length;
    if (column.right_aligned) out = static_cast<char*>(std::memset(out, ' ', pad)) + pad;
    out = static_cast<char*>(std::memcpy(out, column.value, length)) + length;
    if (!column.right_aligned) out = static_cast<char*>(std::memset(out, ' ', pad)) + pad;
    *out++ = ' ';
  }
  *out++ = 'I';
  *out = '\0';
  WriteLine(1);
}

void Report::WriteClosingRule() {
  std::snprintf(line_, sizeof line_, "%s", kRule);
  WriteLine(1);
}

void Report::AddProgram(const ProgramRecord& record) {
  if (lines_on_page_ >= kPageFull) StartPage();
  WriteDetail(record);
  if (lines_on_page_ >= kPageFull) WriteClosingRule();
}

void Report::WriteTotals(const Totals& totals) {
  const Texts& texts = kTexts[static_cast<int>(settings_.language)];
  line_[0] = '\0';
  WriteLine(1);
  WriteLine(1);
  std::snprintf(line_, sizeof line_, texts.files_listed, totals.files_listed);
  WriteLine(1);
  std::snprintf(line_, sizeof line_, texts.total_bytes, totals.total_bytes);
  WriteLine(1);
}

void Report::Finish(const Totals& totals) {
  if (lines_on_page_ < kPageFull) WriteClosingRule();
  WriteTotals(totals);
}

}  // namespace korrin
