// SPDX-License-Identifier: MIT
#include "report/report.h"

#include <cinttypes>
#include <cstring>
#include <initializer_list>
#include <iterator>

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
constexpr int kDateWidth = WidthOf(Constant::Date);
void YearFirst(const char* date, char* out) {
  constexpr int kOrder[] = {6, 7, 8, 9, 2, 3, 4, 5, 0, 1};
  static_assert(std::size(kOrder) == kDateWidth);
  for (int k = 0; k < kDateWidth; ++k) out[k] = date[kOrder[k]];
  out[kDateWidth] = '\0';
}

// The detail line's columns after the name, left to right, and the constant
// each shows; only the time is right-aligned.
struct Column {
  Constant constant;
  bool right_aligned;
};
constexpr Column kColumns[] = {
    {Constant::Code, false},    {Constant::Date, false}, {Constant::Session, false},
    {Constant::Library, false}, {Constant::User, false}, {Constant::Time, true},
};
constexpr const char* kReturnCode = "0";  // the last column, always
constexpr int kReturnCodeWidth = 6;

// Appends "I " and `value` cut or padded to `width` at `out`; returns the end.
char* AppendCell(char* out, const char* value, int width, bool right_aligned) {
  *out++ = 'I';
  *out++ = ' ';
  const size_t length = strnlen(value, static_cast<size_t>(width));
  const size_t pad = static_cast<size_t>(width) - length;
  if (right_aligned) out = static_cast<char*>(std::memset(out, ' ', pad)) + pad;
  out = static_cast<char*>(std::memcpy(out, value, length)) + length;
  if (!right_aligned) out = static_cast<char*>(std::memset(out, ' ', pad)) + pad;
  *out++ = ' ';
  return out;
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
  char date[kDateWidth + 1];
  if (settings_.language == Language::English) {
    YearFirst(record.constants.date, date);
  } else {
    std::memcpy(date, record.constants.date, sizeof date);
  }
  // "I name     I code   I date       I sess. I lib I user     I     time I 0      I"
  char* out = AppendCell(line_, record.name, ProgramRecord::kNameWidth, false);
  for (const Column& column : kColumns) {
    const char* value =
        column.constant == Constant::Date ? date : record.constants.Text(column.constant);
    out = AppendCell(out, value, WidthOf(column.constant), column.right_aligned);
  }
  out = AppendCell(out, kReturnCode, kReturnCodeWidth, false);
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
