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

TEST(Report, TitleLineVariants) {
  MemoryReport plain;
  for (int k = 0; k < 1000; ++k) plain.report.StartPage();
  std::string text = plain.Text();
  EXPECT_EQ(text.substr(0, text.find('\n')), " " + std::string(58, ' ') + "2026/12/07  Page   1");
  // From page 1000 on the number takes four columns and widens the line.
  const size_t last_title = text.rfind('\f');
  EXPECT_EQ(text.substr(last_title, text.find('\n', last_title) - last_title),
            "\f" + std::string(58, ' ') + "2026/12/07  Page 1000");
  EXPECT_EQ(plain.report.lines_on_page(), 7);

  MemoryReport third({.title_with_third_field = true});
  third.report.StartPage();
  text = third.Text();
  EXPECT_EQ(text.substr(0, text.find('\n')), " " + std::string(59, ' ') + "2026/12/07 Page   1");
}

TEST(Report, PageClosesWhenTheLineCountReachesSixty) {
  MemoryReport m;
  const ProgramRecord found = Found("PGM", "12:00:00");
  ProgramRecord missing = found;
  missing.found = false;
  m.report.AddProgram(missing);  // starts page 1 without a detail line
  EXPECT_EQ(m.report.lines_on_page(), 7);
  for (int k = 0; k < 52; ++k) m.report.AddProgram(found);
  EXPECT_EQ(m.report.lines_on_page(), 59);
  m.report.AddProgram(found);
  EXPECT_EQ(m.report.lines_on_page(), 61);  // detail line and closing rule
  m.report.AddProgram(missing);             // next page started, nothing printed
  EXPECT_EQ(m.report.page(), 2);
  EXPECT_EQ(m.report.lines_on_page(), 7);
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
  m.report.WriteTotals({.files_listed = 3000000000, .total_bytes = 18446744073709551615u});
  EXPECT_EQ(m.Text(),
            "\n \n     Nombre de fichiers traites.......: 3000000000\n"
            "     Taille totale....................: 18446744073709551615\n");
}

TEST(Report, WriteFailuresAreKept) {
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  Report report(full, {});
  report.WriteClosingRule();
  EXPECT_TRUE(report.WriteFailed());
  std::fclose(full);
}

}  // namespace
}  // namespace korrin
