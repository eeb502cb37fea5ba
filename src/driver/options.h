// SPDX-License-Identifier: MIT
// The command line: the report file, the option letters, help and usage.
#pragma once

#include <cstdio>
#include <optional>

#include "common/language.h"
#include "report/export.h"

namespace korrin {

struct Options {
  // Both point into the argument vector, which lives as long as the process:
  // the command line costs no memory of its own.
  const char* program_name = "";  // as invoked, for the messages
  const char* report_path = "";   // the destination file
  Language language = Language::English;
  bool status_line = false;             // -R: progress on one terminal line, "1" on every title
  bool title_with_third_field = false;  // -r
  bool help = false;                    // -h
  bool quiet = false;                   // --quiet: no progress; messages on standard error
  // --csv, --json (the last one given): records in place of the report.
  std::optional<ExportFormat> export_format;
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;  // a bad command line
constexpr int kExitFile = 4;   // a file cannot be opened, read or written

// Reads and validates the whole command line, then gives the help of -h if
// asked; --help and --version are answered as soon as they are read.
// Returns nothing when the run goes on, or the exit status once its
// messages are written to `out` and `err`.
std::optional<int> ParseCommandLine(int argc, const char* const* argv, Options& options, FILE* out,
                                    FILE* err);

}  // namespace korrin
