// SPDX-License-Identifier: MIT
#include "driver/list_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "korrin_process.h"

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

// All the lines of `content` read through a buffer of `capacity` bytes;
// a too-long line reads as "<too long>".
std::vector<std::string> LinesOf(const std::string& content, size_t capacity) {
  korrin_test::TempDir dir;
  korrin_test::WriteFile(dir / "p.lst", content);
  const int fd = open((dir / "p.lst").c_str(), O_RDONLY);
  std::vector<char> buffer(capacity);
  ListReader reader(fd, buffer.data(), buffer.size());
  std::vector<std::string> lines;
  ListLine line;
  while (reader.Next(&line)) {
    EXPECT_EQ(line.text.data() == nullptr ? '\0' : line.text.data()[line.text.size()], '\0');
    lines.push_back(line.too_long ? "<too long>" : std::string(line.text));
  }
  EXPECT_FALSE(reader.Failed());
  close(fd);
  return lines;
}

TEST(ListReader, LinesEndAtTheirNewlineOrFirstNul) {
  const std::string longest(ListLine::kLongestPath, 'p');
  const std::string content =
      "a.cbl\n\n" + longest + "\n" + longest + "q\nx" + std::string(1, '\0') + "junk\nlast";
  // Through the run's buffer, and through one barely larger than a path, so
  // that lines meet the buffer's end everywhere.
  for (const size_t capacity : {size_t{64} << 10, ListLine::kLongestPath + 2}) {
    EXPECT_EQ(LinesOf(content, capacity),
              (std::vector<std::string>{"a.cbl", "", longest, "<too long>", "x", "last"}))
        << capacity;
  }
}

TEST(ListReader, LinesLongerThanTheBufferKeepOnlyTheirText) {
  const std::string junk(100000, 'j');
  const std::string content = "ab" + std::string(1, '\0') + junk + "\n" + junk + "\nnext\n" + junk +
                              "x";  // the last line, without a newline
  EXPECT_EQ(LinesOf(content, 8192),
            (std::vector<std::string>{"ab", "<too long>", "next", "<too long>"}));
  EXPECT_EQ(LinesOf("", 8192), std::vector<std::string>{});
}

TEST(ListReader, ReadyOnlyWhenAWholeLineHasCome) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  char buffer[8192];
  ListReader reader(ends[0], buffer, sizeof buffer);
  EXPECT_FALSE(reader.LineReady());
  ASSERT_EQ(write(ends[1], "a.c", 3), 3);
  EXPECT_FALSE(reader.LineReady());  // half a line: Next would wait
  ASSERT_EQ(write(ends[1], "bl\nb", 4), 4);
  EXPECT_TRUE(reader.LineReady());
  ListLine line;
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line.text, "a.cbl");
  EXPECT_FALSE(reader.LineReady());
  close(ends[1]);  // the writer is gone: a pipe's end is its end the first time it is read
  EXPECT_TRUE(reader.LineReady());
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line.text, "b");
  EXPECT_FALSE(reader.Next(&line));
  EXPECT_FALSE(reader.Failed());
  close(ends[0]);
}

// The end of a list file is taken only when Next confirms it: what was
// appended since LineReady met the end is still read.
TEST(ListReader, TheEndIsTakenOnlyWhenNextMeetsIt) {
  korrin_test::TempDir dir;
  korrin_test::WriteFile(dir / "p.lst", "a\n");
  const int fd = open((dir / "p.lst").c_str(), O_RDONLY);
  char buffer[8192];
  ListReader reader(fd, buffer, sizeof buffer);
  ListLine line;
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_FALSE(reader.LineReady());
  const int append = open((dir / "p.lst").c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(write(append, "b\n", 2), 2);
  close(append);
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line.text, "b");
  EXPECT_FALSE(reader.Next(&line));
  close(fd);
}

TEST(ListReader, AReadErrorEndsTheList) {
  const int fd = open(".", O_RDONLY);  // a directory: every read fails
  char buffer[8192];
  ListReader reader(fd, buffer, sizeof buffer);
  ListLine line;
  EXPECT_TRUE(reader.LineReady());
  EXPECT_FALSE(reader.Next(&line));
  EXPECT_TRUE(reader.Failed());
  close(fd);
}

}  // namespace
}  // namespace korrin
