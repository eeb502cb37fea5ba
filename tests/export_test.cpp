// SPDX-License-Identifier: MIT
// The records of --csv and --json, read back by Python's csv and json
// modules and held against the report of the same list; the ISO date.
#include "report/export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "driver/list_reader.h"
#include "korrin_process.h"

namespace korrin_test {
namespace {

// Prints the two totals of JSON's summary, then the records of a CSV and a
// JSON Lines export of one run once each module has read them alike: their
// 14 fields' bytes (null as empty), each ended by a NUL, which no field
// holds. Fails on a key, a type, a quoting, a line end or bytes that the
// format refuses.
const char kReader[] = R"(import base64, csv, io, json, sys
F = "line path name opened size found code session library user time date date_iso error".split()
raw = open(sys.argv[1], "rb").read().decode("latin-1")  # byte for byte
rows = list(csv.reader(io.StringIO(raw, newline=""), strict=True))
q = lambda f: '"' + f.replace('"', '""') + '"' if any(c in f for c in ',"\r\n') else f
assert rows.pop(0) == F and "".join(",".join(map(q, r)) + "\n" for r in [F] + rows) == raw
lines = open(sys.argv[2], "rb").read().decode("utf-8").split("\n")
assert lines.pop() == ""
*objects, summary = map(json.loads, lines)
assert list(summary) == ["type", "files", "total_size"] and summary["type"] == "summary"
def text(o, k, csv_field):
    v = o[k]
    # null exactly where the record has no value: where CSV is empty, but for
    # the path, the name and a constant that is empty when found
    assert (v is None) == {"size": not o["opened"], "date_iso": csv_field == "",
                           "error": csv_field == ""}.get(k, k in F[6:12] and not o["found"]), (k, o)
    if type(v) is dict:
        assert list(v) == ["bytes"]
        v = base64.b64decode(v["bytes"], validate=True)
        try: v.decode("utf-8")
        except UnicodeDecodeError: return v.decode("latin-1")
        raise AssertionError("UTF-8 written as bytes: %r" % v)
    assert type(v) in ({"line": int, "size": int, "opened": bool, "found": bool}.get(k, str),
                       type(None)), (k, o)
    return "" if v is None else str(v).lower() if type(v) is bool else str(v).encode().decode("latin-1")
for o, r in zip(objects, rows, strict=True):
    assert list(o) == ["type"] + F and o["type"] == "file" and [text(o, k, c) for k, c in zip(F, r)] == r, (o, r)
fields = [str(summary["files"]), str(summary["total_size"])] + [f for r in rows for f in r]
sys.stdout.buffer.write("".join(f + "\0" for f in fields).encode("latin-1"))
)";

// Where the fields stand in a record.
constexpr int kName = 2, kOpened = 3, kSize = 4, kFound = 5, kCode = 6, kSession = 7, kLibrary = 8,
              kUser = 9, kTime = 10, kDate = 11, kIso = 12, kError = 13;

// JSON's two totals, then the fields of the records of out.csv and
// out.json in `dir`, one after the other.
std::vector<std::string> ReadBack(const TempDir& dir) {
  WriteFile(dir / "reader.py", kReader);
  FILE* pipe = popen(
      ("python3 " + dir / "reader.py " + dir / "out.csv " + dir / "out.json 2>&1").c_str(), "r");
  std::string text;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << text;
  std::vector<std::string> fields;
  std::istringstream in(text);
  for (std::string field; std::getline(in, field, '\0');) fields.push_back(field);
  return fields;
}

// A found record's detail line as the report prints it.
std::string DetailLine(const std::string* r, bool french) {
  const std::string& d = r[kDate];
  const std::string date = french ? d : d.substr(6, 4) + d.substr(2, 4) + d.substr(0, 2);
  char line[256];
  std::snprintf(line, sizeof line,
                " I %-8.8s I %-6.6s I %-10.10s I %-5.5s I %-3.3s I %-8.8s I %8.8s I 0      I\n",
                r[kName].c_str(), r[kCode].c_str(), date.c_str(), r[kSession].c_str(),
                r[kLibrary].c_str(), r[kUser].c_str(), r[kTime].c_str());
  return line;
}

// A program found by `name`, whose block holds `constants`: session (5),
// library (3), code (6), user (8), a time (8) and a date (10), as stored.
std::string Program(std::string name, const std::string& constants) {
  name.resize(8, ' ');
  return std::string(300, ' ') + "WORKING" + std::string(20, ' ') + constants.substr(0, 8) +
         "14/06/23" + constants.substr(8, 22) + name + "0003" + constants.substr(30) +
         std::string(300, ' ');
}

// Paths and constants holding commas, quotes, CR, LF, control bytes and
// bytes 0x80-0xff, what is not UTF-8 (cut short, a surrogate, past
// U+10FFFF, overlong, a last byte that continues nothing) and a name cut
// inside a character; the longest path,
// all control bytes; a missing file, one without a block, one without
// permission, and two that the machine fails to open and to read.
void WriteHostileList(const TempDir& dir) {
  WriteFile(
      dir / "a,b \"q\".cbl",
      Program("A,B \"Q\"", "1,\"\r\n\x80\xff,Q\"\r\nZ,\xc3\xa9t\xc3\xa9 ok14:32:0531/02/2024"));
  WriteFile(dir / "bad\xc3(.cbl", Program("BAD\xc3(",
                                          "\x01\x1f\x7f\t\\\xed\xa0\x80\xe2\x82\xac"
                                          "12,\xf0\x9f\x98\x80\xf4\x90\x80\x80"
                                          "09:05:07\xe0\x9f\xbf/2/2024"));
  for (const char* name : {"noblock \"x\".cpy", "cr.cbl\r"})
    WriteFile(dir / name, std::string(1000, 'x'));
  for (const char* name : {"eio.cbl", "rerr.cbl", "locked.cbl"})
    WriteFile(dir / name, kSmallProgram);
  chmod((dir / "locked.cbl").c_str(), 0);  // read all the same as root
  WriteFile(
      dir / "hostile.lst",
      "a,b \"q\".cbl\nbad\xc3(.cbl\nmissing,file.cbl\nnoblock \"x\".cpy\n" +
          std::string(korrin::Export::kLongestPath, '\x01') +
          "\nx\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9.cbl\ncr.cbl\r\n\neio.cbl\nrerr.cbl\nlocked.cbl\n"
          "cut\xe2\x82(\ncut\xf0\x9f\x98(\n");
}

TEST(Export, RecordsReadBackAsTheReportHasThem) {
  if (std::system("python3 -c 'import base64, csv, io, json' 2>/dev/null") != 0)
    GTEST_SKIP() << "no python3";
  const std::string kSource = KORRIN_SOURCE_DIR;
  const std::vector<std::string> kExampleDates = {
      "2021-02-03", "2021-02-03", "2023-06-14", "2023-06-15", "2024-09-02",
      "2022-02-28", "2025-11-30", "2025-12-01", "2026-01-19", "2020-05-05"};
  struct Row {
    bool hostile;  // the hostile list, else the sample programs
    bool french;
    std::vector<std::string> iso_dates;  // of the found records, in order
  } const rows[] = {
      {false, false, kExampleDates}, {false, true, kExampleDates}, {true, false, {"", ""}}};
  for (const Row& row : rows) {
    TempDir dir;
    Invocation run{.args = {}, .list = "examples/programs.lst", .cwd = kSource};
    if (row.hostile) {
      WriteHostileList(dir);
      run = {.args = {},
             .list = "hostile.lst",
             .cwd = dir.path(),
             .env = WithFaults("eio.cbl=open-eio;rerr.cbl=read-eio-after:0")};
    }
    std::vector<std::string> lines;
    std::istringstream list(ReadFile(run.cwd + "/" + *run.list));
    for (std::string line; std::getline(list, line);) lines.push_back(line);
    const std::string language = row.french ? "-f" : "-e";
    run.args = {dir / "report.txt", language};
    const Outcome report_run = RunKorrin(run);
    // The last of --csv and --json wins; all else is as with the report.
    for (const auto& [file, first, last] :
         {std::tuple("out.csv", "--json", "--csv"), std::tuple("out.json", "--csv", "--json")}) {
      run.args = {dir / file, first, language, last};
      const Outcome o = RunKorrin(run);
      EXPECT_EQ(o.status, report_run.status);
      EXPECT_EQ(o.out, report_run.out);
      EXPECT_EQ(o.err, "");
    }
    // --quiet: the records alone on standard output, the messages on
    // standard error, as jq or a database would take them from a pipe.
    run.args = {"/dev/stdout", "--quiet", language, "--json"};
    const Outcome quiet = RunKorrin(run);
    EXPECT_EQ(quiet.status, report_run.status);
    EXPECT_EQ(quiet.out, ReadFile(dir / "out.json"));
    std::string messages;
    std::istringstream said(report_run.out);
    for (std::string line; std::getline(said, line);) {
      if (line.starts_with("Error ")) messages += line + "\n";
    }
    EXPECT_EQ(quiet.err, messages);
    const std::vector<std::string> fields = ReadBack(dir);

    // Record by record, what the run printed and what the report holds.
    std::string report = ReadFile(dir / "report.txt"), progress;
    const ReportContents contents = ReadReport(report);
    ASSERT_EQ(fields.size(), 2 + 14 * lines.size());
    EXPECT_EQ(fields[0] + " " + fields[1],
              std::to_string(contents.files) + " " + std::to_string(contents.size));
    std::vector<std::string> iso_dates;
    long long size = 0;
    size_t at = 0;
    for (size_t k = 0; k < lines.size(); ++k) {
      const std::string* r = &fields[2 + 14 * k];
      char name[9];
      korrin::ExternalName(lines[k], name);
      for (char& c : name) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
      EXPECT_EQ(std::vector<std::string>(r, r + 3),
                (std::vector<std::string>{std::to_string(k + 1), lines[k], name}));
      if (r[kOpened] == "true") {
        progress += (row.french ? "Fichier traite : " : "File processed : ") + lines[k] + "\n";
        size += std::stoll(r[kSize]);
      }
      if (!r[kError].empty()) progress += "Error " + r[kError] + "ing file : " + lines[k] + "\n";
      if (r[kFound] != "true") continue;
      iso_dates.push_back(r[kIso]);
      // The constants lose the blanks that pad them: "PETIT", not "PETIT   ".
      for (int field = kCode; field <= kDate; ++field)
        EXPECT_FALSE(r[field].ends_with(' ')) << field;
      // Detail lines hold the bytes as they are, LF included: each is looked
      // for in the text, in order, and taken out of it.
      const std::string detail = DetailLine(r, row.french);
      at = report.find(detail, at);
      ASSERT_NE(at, std::string::npos) << detail;
      report.erase(at, detail.size());
    }
    EXPECT_EQ(report_run.out, progress);
    EXPECT_EQ(ReadReport(report).details.size(), 0u);  // none without its record
    EXPECT_EQ(iso_dates, row.iso_dates);
    EXPECT_EQ(size, contents.size);
  }
}

}  // namespace
}  // namespace korrin_test

namespace korrin {
namespace {

TEST(Export, IsoDateOnlyForRealDaysInDigits) {
  const struct {
    const char* date;
    const char* iso;  // empty when none
  } cases[] = {
      {"03/02/2021", "2021-02-03"}, {"29/02/2024", "2024-02-29"},
      {"29/02/2000", "2000-02-29"}, {"01/01/0001", "0001-01-01"},
      {"31/02/2024", ""},           {"29/02/2023", ""},
      {"29/02/1900", ""},           {"31/04/2024", ""},
      {"00/01/2024", ""},           {"01/13/2024", ""},
      {"01/01/0000", ""},           {"1a/01/2024", ""},
      {"01.01.2024", ""},           {"01/01/24", ""},
  };
  for (const auto& c : cases) {
    char iso[kIsoDateSize] = "";
    EXPECT_EQ(IsoDate(c.date, iso), c.iso[0] != '\0') << c.date;
    EXPECT_STREQ(iso, c.iso) << c.date;
  }
}

}  // namespace
}  // namespace korrin
