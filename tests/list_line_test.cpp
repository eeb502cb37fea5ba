#include "driver/list_line.h"

#include <gtest/gtest.h>

namespace korrin {
namespace {

TEST(ListLine, ExternalNameFromBaseName) {
  struct Case {
    const char* line;
    const char* name;
  } const cases[] = {
      {"/u/gen/PGM001.pgm", "PGM001"},
      {"/u/gen/LONGNAME12.x", "LONGNAME"},
      {"/u/gen/PGM1", "PGM1"},
      {"C:\\gen\\AB.x", "AB"},
      {"VOL:XY", "XY"},
      {"PGM2.x", "PGM2"},
      {"/u/gen/.hidden", ""},
      {"/u/rel.2/PGM", "PGM"},
      {"dir/sub\\name", "sub\\name"},  // '/' wins over '\'
      {"a\\b:c", "b:c"},               // '\' wins over ':'
      {"", ""},
      {"EIGHTCHR", "EIGHTCHR"},
      {"/x/ab.c.d", "ab"},
      {"/x/pgm\r", "pgm\r"},  // a CRLF list keeps its carriage return
      {"/x/", ""},
  };
  for (const Case& c : cases) {
    ProgramRef ref;
    TakeListLine(c.line, ref);
    EXPECT_STREQ(ref.ExtName, c.name) << c.line;
    EXPECT_EQ(ref.Path, c.line);
  }
}

TEST(ListLine, ReplacesEveryByteOfTheLastName) {
  ProgramRef ref;
  TakeListLine("/a/LONGNAME", ref);
  TakeListLine("/a/AB", ref);
  EXPECT_EQ(std::string(ref.ExtName, sizeof ref.ExtName), std::string("AB\0\0\0\0\0\0\0", 9));
  std::string long_path(5000, 'p');
  TakeListLine(long_path, ref);
  EXPECT_EQ(ref.Path, long_path);  // never cut
}

}  // namespace
}  // namespace korrin
