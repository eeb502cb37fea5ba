// SPDX-License-Identifier: MIT
#include "driver/list_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace korrin {
namespace {

TEST(ListReader, ExternalNameFromBaseName) {
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
    char name[9];
    std::memset(name, 'x', sizeof name);  // every byte is replaced
    ExternalName(c.line, name);
    EXPECT_EQ(std::string(name, sizeof name),
              std::string(c.name) + std::string(sizeof name - std::strlen(c.name), '\0'))
        << c.line;
  }
}

TEST(ListReader, LinesAreWholeAndNulTerminated) {
  const std::string long_line(5000, 'p');
  std::string content = "a.cbl\n\n" + long_line + "\nx" + std::string(1, '\0') + "junk\nlast";
  FILE* list = fmemopen(content.data(), content.size(), "r");
  ListReader reader(list);
  std::string_view line;
  for (const std::string& expected :
       {std::string("a.cbl"), std::string(), long_line, std::string("x"), std::string("last")}) {
    ASSERT_TRUE(reader.Next(&line));
    EXPECT_EQ(line, expected);
    EXPECT_EQ(line.data()[line.size()], '\0');  // usable as a path as it stands
  }
  EXPECT_FALSE(reader.Next(&line));
  EXPECT_FALSE(reader.Failed());
  std::fclose(list);
}

}  // namespace
}  // namespace korrin
