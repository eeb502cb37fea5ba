// SPDX-License-Identifier: MIT
#include "driver/run.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string_view>

#include "common/totals.h"
#include "driver/list_reader.h"
#include "driver/options.h"
#include "driver/process_setup.h"
#include "driver/read_ahead.h"
#include "driver/run_date.h"
#include "driver/status_line.h"
#include "reader/large_file_search.h"
#include "reader/program_reader.h"
#include "report/report.h"

namespace korrin {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// The progress label, in the order of Language.
constexpr const char* kProgressLabels[] = {"File processed", "Fichier traite"};

// Tells on standard output that a listed file was opened: one line with its
// path, or with -R the status line, which shows the label alone.
void Announce(std::string_view path, const Options& options) {
  const char* label = kProgressLabels[static_cast<int>(options.language)];
  if (!options.status_line) {
    std::fputs(label, stdout);
    std::fputs(" : ", stdout);
    std::fwrite(path.data(), 1, path.size(), stdout);
    std::putc('\n', stdout);
    return;
  }
  char text[80];
  std::snprintf(text, sizeof text, "%s : %s\n", label, "");
  ShowStatus(text);
}

void FormatToday(Language language, char (&run_date)[kRunDateSize]) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  FormatRunDate(local, language, run_date);
}

// Says on standard output that a listed file could not be read for a
// failure of the machine; the run goes on and ends with status 4.
void ReportFileError(FileError error, std::string_view path) {
  std::fputs(error == FileError::Open ? "Error opening file : " : "Error reading file : ", stdout);
  std::fwrite(path.data(), 1, path.size(), stdout);
  std::putc('\n', stdout);
}

// True when both paths name one existing file, links followed.
bool SameFile(const char* a, const char* b) {
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 && IdentityOf(first) == IdentityOf(second);
}

struct ListOutcome {
  bool read_to_end = true;   // false when a read of the list failed before its end
  bool file_errors = false;  // a listed file could not be opened or read
};

// What the run does with one list line once its file is read, in list order:
// announce it, report its error, count it, print its report line.
void TakeLine(std::string_view path, const ProgramScan& scan, const Options& options,
              Totals& totals, ListOutcome& outcome, Report& report) {
  ++totals.files_listed;
  if (scan.opened) {
    Announce(path, options);
    totals.total_bytes += static_cast<uint64_t>(scan.size);
  }
  if (scan.error != FileError::None) {
    ReportFileError(scan.error, path);
    outcome.file_errors = true;
  }
  report.AddProgram(scan.record);
}

// Reads the list file to its end, one report line per list line. The files
// of the next lines are read ahead while earlier lines are reported.
ListOutcome ReadList(FILE* list, FileIdentity report_identity, const Options& options,
                     Totals& totals, Report& report) {
  ListOutcome outcome;
  ListReader reader(list);
  const int workers = ReadAhead::WorkersForThisMachine();
  AllowLargeFileSearch(workers);  // a large file is searched by two threads, mapped
  ReadAhead ahead(workers, report_identity);
  std::string_view path;
  bool list_ended = false;
  bool long_path_waiting = false;  // in the reader's buffer, read after the queued lines
  for (;;) {
    while (!list_ended && !long_path_waiting && !ahead.Full()) {
      if (!reader.Next(&path)) {
        list_ended = true;
      } else if (ReadAhead::Fits(path)) {
        ahead.Add(path);
      } else {
        long_path_waiting = true;
      }
    }
    if (!ahead.Empty()) {
      const QueuedLine& line = ahead.TakeOldest();
      TakeLine({line.path, line.path_length}, line.scan, options, totals, outcome, report);
    } else if (long_path_waiting) {
      TakeLine(path, ahead.ReadNow(path), options, totals, outcome, report);
      long_path_waiting = false;
    } else {
      break;
    }
  }
  outcome.read_to_end = !reader.Failed();
  return outcome;
}

// The identity of the open report, so that it is never read ahead.
FileIdentity IdentityOfOpen(FILE* file) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 ? IdentityOf(st) : FileIdentity{};
}

}  // namespace

int Run(int argc, const char* const* argv) {
  if (!PrepareProcess()) return kExitFile;
  SetUpStatusLine();
  Options options;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, options, stdout, stderr)) {
    return *status;
  }

  // Emptying the report must never destroy the list it is about to read.
  const char* list_path = std::getenv("LIST");
  UniqueFile report_file(list_path != nullptr && SameFile(list_path, options.report_path.c_str())
                             ? nullptr
                             : std::fopen(options.report_path.c_str(), "w"));
  if (!report_file) {
    std::printf("Error opening dest_file : %s\n", options.report_path.c_str());
    return kExitFile;
  }
  char run_date[kRunDateSize];
  FormatToday(options.language, run_date);
  Report report(report_file.get(),
                ReportSettings{.language = options.language,
                               .new_page_code_on_every_title = options.status_line,
                               .title_with_third_field = options.title_with_third_field,
                               .run_date = run_date});

  if (list_path == nullptr) {
    std::printf("Assign LIST not found\n");
    return kExitFile;
  }
  UniqueFile list(std::fopen(list_path, "r"));
  if (!list) {
    std::printf("Error opening LIST file\n");
    return kExitFile;
  }
  Totals totals;
  const ListOutcome outcome =
      ReadList(list.get(), IdentityOfOpen(report_file.get()), options, totals, report);
  report.Finish(totals);
  list.reset();
  const bool write_ok = !report.WriteFailed() && !std::ferror(report_file.get()) &&
                        std::fclose(report_file.release()) == 0;
  int exit_status = outcome.file_errors ? kExitFile : kExitOk;
  if (!outcome.read_to_end) {
    std::printf("Error reading LIST file\n");
    exit_status = kExitFile;
  }
  if (!write_ok) {
    std::printf("Error writing dest_file : %s\n", options.report_path.c_str());
    exit_status = kExitFile;
  }
  return exit_status;
}

}  // namespace korrin
