// SPDX-License-Identifier: MIT
#include "report/report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace korrin {
namespace {

// A report writing into memory.
struct MemoryReport {
  char* data = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&data, &size);
  Report report;
  explicit MemoryReport(ReportSettings settings = {}) : report(file, WithDate(settings)) {}
  ~MemoryReport() {
    std::fclose(file);
    std::free(data);
  }
  static ReportSettings WithDate(ReportSettings settings) {
    settings.run_date = "2026/12/07";
    return settings;
  }
  std::string Text() {
    std::fflush(file);
    return std::string(data, size);
  }
  std::string LastLine() {
    const std::string text = Text();
    return text.substr(text.rfind('\n', text.size() - 2) + 1);
  }
};

ProgramRecord Found(const char* name, const char* time, const char* date = "14/06/2023") {
  ProgramRecord record;
  std::strcpy(record.name, name);
  std::strcpy(record.constants.code, "ABCDEF");
  std::memcpy(record.constants.date, date, 10);
  std::strcpy(record.constants.session, "12345");
  std::strcpy(record.constants.library, "LIB");
  std::strcpy(record.constants.user, "USERCODE");
  std::strcpy(record.constants.time, time);
  record.found = true;
  return record;
}

// A closing rule, with its control.
const std::string kRule = std::string(" ").append(79, '-').append("\n");

// The header of page `page`, English, without the third title field.
std::string Header(const std::string& control, int page) {
  char title[96];
  std::snprintf(title, sizeof title, "%s%58s2026/12/07  Page %3d\n\n", control.c_str(), "", page);
  return title + std::string("                            PROGRAMS GENERATION DATE\n") + kRule +
         " I EXTERNAL I CRV    I GENER.     I SESS. I LIB.I UTIL.    I GENER.   I Return I\n"
         " I NAME     I CODE   I DATE       I NUM.  I     I CODE     I TIME     I code   I\n" +
         kRule;
}

// A page holds 7 header lines and 53 detail lines; the closing rule follows
// the 53rd, or the last line of the list. A line without a block prints
// nothing, but still starts the next page when the last one is full.
TEST(Report, PagesOfFiftyThreeDetailLines) {
  const std::string detail =
      " I PGM      I ABCDEF I 2023/06/14 I 12345 I LIB I USERCODE I 12:00:00 I 0      I\n";
  struct Case {
    int found;
    bool every_title_opens_a_page;  // -R
    bool then_one_not_found;
  } const cases[] = {{1, false, false}, {52, false, false},  {53, false, false}, {54, false, false},
                     {54, true, false}, {120, false, false}, {53, false, true},  {52, false, true}};
  for (const Case& c : cases) {
    MemoryReport m({.new_page_code_on_every_title = c.every_title_opens_a_page});
    ProgramRecord record = Found("PGM", "12:00:00");
    for (int k = 0; k < c.found; ++k) m.report.AddProgram(record);
    record.found = false;
    if (c.then_one_not_found) m.report.AddProgram(record);
    m.report.Finish({.files_listed = 7, .total_bytes = 9});
    std::string expected;
    const int lines = c.found + (c.then_one_not_found ? 1 : 0);
    for (int k = 0; k < lines; ++k) {
      const std::string control = c.every_title_opens_a_page ? "1" : k == 0 ? " " : "\f";
      if (k % 53 == 0) expected += Header(control, k / 53 + 1);
      if (k < c.found) expected += detail;
      if (k % 53 == 52 || k == lines - 1) expected += kRule;
    }
    expected +=
        " \n \n     Number of processed files........: 7\n"
        "     Total size.......................: 9\n";
    EXPECT_EQ(m.Text(), expected) << c.found << (c.then_one_not_found ? " and one not found" : "");
  }
}

// From page 1000 on the page number takes four columns and widens the title.
// With the third field, the date moves one column right.
TEST(Report, TitleLineVariants) {
  MemoryReport plain;
  for (int k = 0; k < 999 * 53 + 1; ++k) plain.report.AddProgram(Found("PGM", "12:00:00"));
  std::string text = plain.Text();
  const size_t last_title = text.rfind('\f');
  EXPECT_EQ(text.substr(last_title, text.find('\n', last_title) - last_title),
            "\f" + std::string(58, ' ') + "2026/12/07  Page 1000");

  MemoryReport third({.title_with_third_field = true});
  third.report.AddProgram(Found("PGM", "12:00:00"));
  text = third.Text();
  EXPECT_EQ(text.substr(0, text.find('\n')), " " + std::string(59, ' ') + "2026/12/07 Page   1");
}

TEST(Report, DetailLineColumnsAndDates) {
  struct Case {
    Language language;
    std::string stored_date;  // the ten bytes as decoded
    const char* shown;        // the date column
  } const cases[] = {
      {Language::English, "14/06/2023", "2023/06/14"},
      {Language::English, "26.11.1997", "1997.11.26"},
      {Language::English, "ABCDEFGHIJ", "GHIJCDEFAB"},  // moved blindly
      {Language::English, std::string("26/11/97\0\0", 10), "97        "},
      {Language::English, std::string("14/06\0\0\0\0\0", 10),
       "          "},  // after a NUL: nothing
      {Language::English, std::string(10, '\0'), "          "},
      {Language::French, "14/06/2023", "14/06/2023"},
      {Language::French, std::string("14/06\0\0\0\0\0", 10), "14/06     "},
  };
  for (const Case& c : cases) {
    MemoryReport m({.language = c.language});
    m.report.AddProgram(Found("LONGNAME", "9:05", c.stored_date.c_str()));
    EXPECT_EQ(m.LastLine(), std::string(" I LONGNAME I ABCDEF I ") + c.shown +
                                " I 12345 I LIB I USERCODE I     9:05 I 0      I\n")
        << c.shown;
  }
}

TEST(Report, TotalsPrintWholeSixtyFourBitNumbers) {
  MemoryReport m({.language = Language::French});
  m.report.Finish({.files_listed = 3000000000, .total_bytes = 18446744073709551615u});
  EXPECT_EQ(m.Text(),
            "\n \n     Nombre de fichiers traites.......: 3000000000\n"
            "     Taille totale....................: 18446744073709551615\n");
}

}  // namespace
}  // namespace korrin
