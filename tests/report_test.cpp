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
  RunState run;
  Report report{file, run};
  MemoryReport() {
    std::strcpy(run.datejour, "2026/12/07");
    report.cptL = 61;
  }
  ~MemoryReport() {
    std::fclose(file);
    std::free(data);
  }
  std::string Text() {
    std::fflush(file);
    return std::string(data, size);
  }
};

ProgramRef Found(const char* name, const char* time) {
  ProgramRef ref;
  std::strcpy(ref.ExtName, name);
  std::strcpy(ref.CrvCode, "ABCDEF");
  std::strcpy(ref.GenDate, "2023/06/14");
  std::strcpy(ref.Session, "12345");
  std::strcpy(ref.Library, "LIB");
  std::strcpy(ref.UserCode, "USERCODE");
  std::strcpy(ref.GenTime, time);
  ref.Status = '1';
  return ref;
}

TEST(Report, PageNumbersFromOneThousandWidenTheTitle) {
  MemoryReport m;
  m.report.cptP = 999;
  m.report.EditEnt1();
  const std::string text = m.Text();
  const std::string title = text.substr(0, text.find('\n'));
  EXPECT_EQ(title, "\f" + std::string(58, ' ') + "2026/12/07  Page 1000");
  EXPECT_EQ(m.report.cptL, 7);
  EXPECT_EQ(m.report.cptP, 1000);
}

TEST(Report, TitleWithThirdField) {
  MemoryReport m;
  m.run.ArgOpr = true;
  m.report.cptP = 0;
  m.report.EditEnt1();
  const std::string text = m.Text();
  EXPECT_EQ(text.substr(0, text.find('\n')), " " + std::string(59, ' ') + "2026/12/07 Page   1");
}

TEST(Report, PageClosesWhenTheLineCountReachesSixty) {
  MemoryReport m;
  const ProgramRef found = Found("PGM", "12:00:00");
  ProgramRef missing = found;
  missing.Status = '0';
  m.report.EditCrv(missing);  // starts page 1 without a detail line
  EXPECT_EQ(m.report.cptL, 7);
  for (int k = 0; k < 52; ++k) m.report.EditCrv(found);
  EXPECT_EQ(m.report.cptL, 59);
  m.report.EditCrv(found);
  EXPECT_EQ(m.report.cptL, 61);  // detail line and closing rule
  m.report.EditCrv(missing);     // next page started, nothing printed
  EXPECT_EQ(m.report.cptP, 2);
  EXPECT_EQ(m.report.cptL, 7);
}

TEST(Report, DetailLineColumns) {
  MemoryReport m;
  m.report.EditEnt1();
  m.report.EditCrv(Found("LONGNAME", "9:05"));
  const std::string text = m.Text();
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1),
            " I LONGNAME I ABCDEF I 2023/06/14 I 12345 I LIB I USERCODE I     9:05 I 0      I\n");
}

TEST(Report, TotalsPrintWholeSixtyFourBitNumbers) {
  MemoryReport m;
  m.run.nbP = 3000000000;
  m.run.TailleTot = 18446744073709551615u;
  m.run.ArgOpf = 1;
  m.report.EditStats();
  EXPECT_EQ(m.Text(),
            "\n \n     Nombre de fichiers traites.......: 3000000000\n"
            "     Taille totale....................: 18446744073709551615\n");
}

TEST(Report, WriteFailuresAreKept) {
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  RunState run;
  Report report(full, run);
  report.EditBas();
  EXPECT_TRUE(report.WriteFailed());
  std::fclose(full);
}

}  // namespace
}  // namespace korrin
