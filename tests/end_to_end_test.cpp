// SPDX-License-Identifier: MIT
// Runs the built korrin and checks its standard output, standard error,
// exit status and the files it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

const std::string kUsage = "Usage : korrin dest_file [-h] \n";
const std::string kSource = KORRIN_SOURCE_DIR;

std::string Golden(const std::string& name) {
  return ReadFile(kSource + "/tests/golden/" + name);
}

// A report of an empty list, in English.
const std::string kEmptyReport =
    "\n \n     Number of processed files........: 0\n     Total size.......................: 0\n";

TEST(CommandLine, RefusedCommandLinesTouchNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } const cases[] = {
      {{}, kUsage},
      {{"-h"}, kUsage},  // no destination: no help
      {{"-h", "a", "b"}, "b : korrin : error in parameters - erreur de parametre" + kUsage},
      {{"out.txt", "-hx"}, "korrin : -x : unknown argument\n" + kUsage},
      {{"-x", "a", "b"}, "korrin : -x : unknown argument\n" + kUsage},  // the first fault wins
      {{"out.txt", "--"}, "korrin : -- : unknown argument\n" + kUsage},
      {{"out.txt", "-f\xe9"}, "korrin : -\xe9 : unknown argument\n" + kUsage},
      {{"out.txt", "-\x80h"}, "korrin : -\x80 : unknown argument\n" + kUsage},
      {{"out.txt", "-h\xff"}, "korrin : -\xff : unknown argument\n" + kUsage},
      {{"out.txt", "--other"}, "korrin : -- : unknown argument\n" + kUsage},
      {{"out.txt", "--csv=x"}, "korrin : -- : unknown argument\n" + kUsage},
      {{"out.txt", "--quiet=yes"}, "korrin : -- : unknown argument\n" + kUsage},
      {{"-x", "--help"}, "korrin : -x : unknown argument\n" + kUsage},  // read before it
      {{"a", "b", "--version"}, "b : korrin : error in parameters - erreur de parametre" + kUsage},
      {{"--json"}, kUsage},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const Outcome o = RunKorrin({.args = c.args, .list = "programs.lst", .cwd = dir.path()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
    EXPECT_FALSE(Exists(dir / "out.txt"));
    EXPECT_FALSE(Exists(dir / "a"));
  }
}

TEST(CommandLine, HelpCreatesNoFileAndFollowsTheLanguage) {
  if (UnderValgrind()) GTEST_SKIP() << "the program name is padded in the help";
  const std::string rule = "-----------------------------------------------------------";
  struct Case {
    std::vector<std::string> args;
    std::string line;
  } const cases[] = {
      {{"out.txt", "-h"}, "korrin     : printing the corvane contants of the programs \n"},
      {{"-h", "out.txt", "-f"}, "korrin     : edition des constantes corvane des programmes\n"},
      {{"out.txt", "-fhe"}, "korrin     : printing the corvane contants of the programs \n"},
      {{"out.txt", "-Rrulocfh"}, "korrin     : edition des constantes corvane des programmes\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "out.txt", "keep me");
    const Outcome o = RunKorrin({.args = c.args, .list = "programs.lst", .cwd = dir.path()});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "\n" + rule + "\n" + c.line + rule +
                         "\n\n\t-h        : help \n        dest_file : output file \n");
    EXPECT_EQ(o.err, kUsage);
    EXPECT_EQ(ReadFile(dir / "out.txt"), "keep me");
  }
  // The program name as invoked, whole, in the help and the usage line.
  TempDir dir;
  const std::string name(300, 'k');
  const Outcome o = RunKorrin(
      {.args = {"out.txt", "-h"}, .list = std::nullopt, .cwd = dir.path(), .argv0 = name});
  EXPECT_NE(o.out.find(name + " : printing"), std::string::npos);
  EXPECT_EQ(o.err, "Usage : " + name + " dest_file [-h] \n");
}

// --help and --version are answered as soon as read: what follows is not
// looked at, and no destination file is needed or touched.
TEST(CommandLine, HelpAndVersionAnsweredAtOnce) {
  struct Case {
    std::vector<std::string> args;
    bool version;
  } const cases[] = {
      {{"--version"}, true},
      {{"out.txt", "--version", "-x", "b"}, true},
      {{"--help"}, false},
      {{"--help", "--version"}, false},
      {{"out.txt", "-f", "--help", "-h", "b"}, false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "out.txt", "keep me");
    const Outcome o = RunKorrin({.args = c.args, .list = std::nullopt, .cwd = dir.path()});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(ReadFile(dir / "out.txt"), "keep me");
    EXPECT_FALSE(Exists(dir / "b"));
    if (c.version) {
      EXPECT_TRUE(o.out.starts_with("korrin " KORRIN_VERSION "\n")) << o.out;
      EXPECT_NE(o.out.find("MIT"), std::string::npos);
      continue;
    }
    EXPECT_TRUE(o.out.starts_with("Usage: korrin dest_file [OPTION]...\n")) << o.out;
    for (const char* option : {"-e", "-E", "-f", "-F", "-R", "-r", "-h", "-u", "-l", "-o", "-c",
                               "--csv", "--json", "--quiet", "--help", "--version"}) {
      const std::string named = std::string(" ") + option;
      EXPECT_TRUE(o.out.find(named + " ") != std::string::npos ||
                  o.out.find(named + ",") != std::string::npos)
          << option;
    }
  }
}

TEST(CommandLine, FileFailuresEndWithStatusFour) {
  TempDir dir;
  WriteFile(dir / "empty.lst", "");
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> list;
    std::string out;
    const char* left;  // the report left on disk, or null when none
  } const cases[] = {
      {{""}, "empty.lst", "Error opening dest_file : \n", nullptr},
      {{"no/such/dir/out.txt"},
       "empty.lst",
       "Error opening dest_file : no/such/dir/out.txt\n",
       nullptr},
      {{"out.txt"}, std::nullopt, "Assign LIST not found\n", ""},
      {{"out.txt"}, "", "Error opening LIST file\n", ""},
      {{"out.txt"}, "missing.lst", "Error opening LIST file\n", ""},
      {{"out.txt"}, ".", "Error reading LIST file\n", kEmptyReport.c_str()},
      {{"/dev/full", "--csv"}, "empty.lst", "Error writing dest_file : /dev/full\n", nullptr},
  };
  // With --quiet, each message goes to standard error instead.
  for (const bool quiet : {false, true}) {
    for (const Case& c : cases) {
      WriteFile(dir / "out.txt", "old report");
      if (c.left == nullptr) unlink((dir / "out.txt").c_str());
      std::vector<std::string> args = c.args;
      if (quiet) args.push_back("--quiet");
      const Outcome o = RunKorrin({.args = args, .list = c.list, .cwd = dir.path()});
      EXPECT_EQ(o.status, 4) << c.out;
      EXPECT_EQ(o.out, quiet ? "" : c.out);
      EXPECT_EQ(o.err, quiet ? c.out : "");
      if (c.left == nullptr) {
        EXPECT_FALSE(Exists(dir / "out.txt"));
      } else {
        EXPECT_EQ(ReadFile(dir / "out.txt"), c.left) << c.out;
      }
    }
  }
}

TEST(CommandLine, OptionsMayStandAnywhere) {
  TempDir dir;
  WriteFile(dir / "pgm.lst", "missing\n");
  struct Case {
    std::vector<std::string> args;
    bool french;
    std::string first_line;  // of the report: control, title
  } const cases[] = {
      {{"-R", "out.txt", "-f"}, true, TitleLine("1", 58, "@DATE@@@@@", "  Page   1")},
      {{"out.txt", "-fR"}, true, TitleLine("1", 58, "@DATE@@@@@", "  Page   1")},
      {{"out.txt", "-f", "-e"}, false, TitleLine(" ", 58, "@DATE@@@@@", "  Page   1")},
      {{"out.txt", "-F"}, true, TitleLine(" ", 58, "@DATE@@@@@", "  Page   1")},
      {{"out.txt", "-fE"}, false, TitleLine(" ", 58, "@DATE@@@@@", "  Page   1")},
      {{"out.txt", "-", "-uloc"}, false, TitleLine(" ", 58, "@DATE@@@@@", "  Page   1")},
  };
  for (const Case& c : cases) {
    const auto [o, date] =
        RunKorrinOnOneDay({.args = c.args, .list = "pgm.lst", .cwd = dir.path()}, c.french);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    const std::string report = ReadFile(dir / "out.txt");
    EXPECT_EQ(report.find("DATE DE GENERATION") != std::string::npos, c.french);
    EXPECT_EQ(report.substr(0, report.find('\n')), WithDate(c.first_line, date));
  }
}

// Runs korrin on the sample programs from the project's root.
DatedOutcome RunExamples(const TempDir& dir, std::vector<std::string> options, bool french) {
  options.insert(options.begin(), dir / "report.txt");
  return RunKorrinOnOneDay({.args = options, .list = "examples/programs.lst", .cwd = kSource},
                           french);
}

TEST(Examples, ReportsMatchTheGoldenFiles) {
  struct Case {
    std::vector<std::string> options;
    const char* golden;
    bool french;
    const char* label;
  } const cases[] = {
      {{}, "examples_en.txt", false, "File processed"},
      {{"-f"}, "examples_fr.txt", true, "Fichier traite"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const auto [o, date] = RunExamples(dir, c.options, c.french);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(ReadFile(dir / "report.txt"), WithDate(Golden(c.golden), date)) << c.golden;
    std::string progress;
    for (const char* name :
         {"CRVP80.cbl", "crvp82.cbl", "ACH010.cbl", "ACH020_OLD.cbl", "VTE100.cbl", "STK200.cbl",
          "PAY300.cbl", "PAY310.cbl", "GEN400.cbl", "LNG500.cbl", "NOBLK.cpy", "TINY.cbl"}) {
      progress += std::string(c.label) + " : examples/" + name + "\n";
    }
    EXPECT_EQ(o.out, progress);  // not for the missing file
  }
}

TEST(Examples, StatusLineAndThirdTitleField) {
  TempDir dir;
  const auto [o, date] = RunExamples(dir, {"-rR"}, false);
  EXPECT_EQ(o.status, 0);
  std::string status;
  for (int k = 0; k < 12; ++k) status += "File processed : \n";
  EXPECT_EQ(o.out, status);  // no capabilities for the empty terminal name
  std::string expected = WithDate(Golden("examples_en.txt"), date);
  expected.replace(0, 79, TitleLine("1", 59, date, " Page   1"));
  EXPECT_EQ(ReadFile(dir / "report.txt"), expected);
}

TEST(Pages, EmptyListAndNothingFound) {
  TempDir dir;
  WriteFile(dir / "empty.lst", "");
  Outcome o = RunKorrin({.args = {"out.txt"}, .list = "empty.lst", .cwd = dir.path()});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(ReadFile(dir / "out.txt"), kEmptyReport);

  // Nothing found: page 1 for the first line, closed by the driver.
  WriteFile(dir / "none.lst", "missing\n\nNOBLK.cpy\n");
  WriteFile(dir / "NOBLK.cpy", std::string(1000, 'x'));
  const auto [found, date] =
      RunKorrinOnOneDay({.args = {"out.txt", "-f"}, .list = "none.lst", .cwd = dir.path()}, true);
  EXPECT_EQ(found.status, 0);
  EXPECT_EQ(found.out, "Fichier traite : NOBLK.cpy\n");
  EXPECT_EQ(ReadFile(dir / "out.txt"), WithDate(Golden("none_found_fr.txt"), date));
}

}  // namespace
}  // namespace korrin_test
