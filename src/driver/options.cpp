// SPDX-License-Identifier: MIT
#include "driver/options.h"

#include <string_view>

namespace korrin {
namespace {

void PrintUsage(const Options& options, FILE* err) {
  std::fprintf(err, "Usage : %s dest_file [-h] \n", options.program_name);
}

void PrintHelp(const Options& options, FILE* out, FILE* err) {
  static const char kRule[] = "-----------------------------------------------------------";
  std::fprintf(out, "\n%s\n", kRule);
  std::fprintf(out,
               options.language == Language::French
                   ? "%-10s : edition des constantes corvane des programmes\n"
                   : "%-10s : printing the corvane contants of the programs \n",
               options.program_name);
  std::fprintf(out, "%s\n\n", kRule);
  std::fflush(out);  // the usage line goes to the other stream in between
  PrintUsage(options, err);
  std::fputs("\t-h        : help \n", out);
  std::fputs("        dest_file : output file \n", out);
}

// The usage of --help, naming every option.
void PrintLongHelp(const Options& options, FILE* out) {
  std::fprintf(out, "Usage: %s dest_file [OPTION]...\n", options.program_name);
  std::fputs(
      "Report the generation constants of the program files listed in the file\n"
      "that the environment variable LIST names, in dest_file: a paged report,\n"
      "or with --csv or --json one record per list line.\n"
      "\n"
      "  -e, -E           English texts (the default)\n"
      "  -f, -F           French texts: progress label, run date, report headings\n"
      "  -R               status line: one terminal line shows the latest file\n"
      "                   opened; every report page opens with the control\n"
      "                   character 1\n"
      "  -r               the report's title line with its third field\n"
      "  -h               the short help, once the whole command line is valid\n"
      "  -u, -l, -o, -c   accepted, no effect\n"
      "      --csv        CSV records, a header row first, in place of the report\n"
      "      --json       JSON Lines records, then a summary, in place of the report\n"
      "      --quiet      no progress; messages on standard error, so that standard\n"
      "                   output carries only a report written to /dev/stdout\n"
      "      --help       this help, then exit\n"
      "      --version    the version and licence, then exit\n"
      "\n"
      "Letters combine (-fR) and may stand before or after dest_file; of the\n"
      "language letters, and of --csv and --json, the last one given wins.\n"
      "Exit status: 0 done, 1 a bad command line, 4 a file could not be opened,\n"
      "read or written.\n",
      out);
}

void PrintVersion(FILE* out) {
  std::fputs("korrin " KORRIN_VERSION
             "\n"
             "Copyright (c) 2026 The korrin authors\n"
             "License: MIT <https://opensource.org/licenses/MIT>\n"
             "This is free software: you are free to change and redistribute it.\n"
             "There is NO WARRANTY, to the extent permitted by law.\n",
             out);
}

// Takes the letters of one argument that begins with '-'. Returns false
// after reporting a letter outside the table.
bool TakeOptionLetters(std::string_view argument, Options& options, FILE* err) {
  for (size_t k = 1; k < argument.size(); ++k) {
    const unsigned char letter = static_cast<unsigned char>(argument[k]);
    switch (letter) {
      case 'h':
        options.help = true;
        break;
      case 'f':
      case 'F':
        options.language = Language::French;
        break;
      case 'e':
      case 'E':
        options.language = Language::English;
        break;
      case 'R':
        options.status_line = true;
        break;
      case 'r':
        options.title_with_third_field = true;
        break;
      case 'u':  // accepted, without effect
      case 'l':
      case 'o':
      case 'c':
        break;
      default:
        std::fprintf(err, "%s : -%c : unknown argument\n", options.program_name, letter);
        PrintUsage(options, err);
        return false;
    }
  }
  return true;
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, const char* const* argv, Options& options, FILE* out,
                                    FILE* err) {
  options.program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "";
  bool have_report_path = false;
  for (int k = 1; k < argc; ++k) {
    const char* const argument = argv[k];
    const std::string_view word = argument;
    if (word == "--help") {
      PrintLongHelp(options, out);
      return kExitOk;
    }
    if (word == "--version") {
      PrintVersion(out);
      return kExitOk;
    }
    if (word == "--csv" || word == "--json") {
      options.export_format = word == "--csv" ? ExportFormat::Csv : ExportFormat::Json;
    } else if (word == "--quiet") {
      options.quiet = true;
    } else if (argument[0] == '-') {
      // Any other "--" is refused at its second '-', as a letter.
      if (!TakeOptionLetters(argument, options, err)) return kExitUsage;
    } else if (!have_report_path) {
      options.report_path = argument;
      have_report_path = true;
    } else {
      // No newline: the usage line follows on the same line.
      std::fprintf(err, "%s : %s : error in parameters - erreur de parametre", argument,
                   options.program_name);
      PrintUsage(options, err);
      return kExitUsage;
    }
  }
  if (!have_report_path) {
    PrintUsage(options, err);
    return kExitUsage;
  }
  if (options.help) {
    PrintHelp(options, out, err);
    return kExitOk;
  }
  return std::nullopt;
}

}  // namespace korrin
