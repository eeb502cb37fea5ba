// SPDX-License-Identifier: MIT
#include "driver/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string_view>

#include "common/totals.h"
#include "driver/confinement.h"
#include "driver/list_reader.h"
#include "driver/memory.h"
#include "driver/options.h"
#include "driver/process_setup.h"
#include "driver/read_ahead.h"
#include "driver/run_date.h"
#include "driver/status_line.h"
#include "reader/program_reader.h"
#include "report/export.h"
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

// The identity of what `fd` holds, when it is a regular file.
std::optional<FileIdentity> FileOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return IdentityOf(st);
}

// Where each list line's result goes, in list order: the progress line or
// the status line, the file's error message, the totals, and the report or
// the records that replace it.
struct LineOutputs {
  const Options& options;
  Report* report;          // the paged report, or
  Export* export_records;  // the records of --csv or --json
  Totals totals;
  bool file_errors = false;  // a listed file could not be opened or read

  void Take(std::string_view path, const ProgramScan& scan) {
    ++totals.files_listed;
    if (scan.opened) {
      Announce(path, options);
      totals.total_bytes += static_cast<uint64_t>(scan.size);
    }
    if (scan.error != FileError::None) {
      ReportFileError(scan.error, path);
      file_errors = true;
    }
    if (export_records == nullptr) {
      report->AddProgram(scan.record);
      return;
    }
    export_records->Add({.line = totals.files_listed, .path = path, .scan = &scan});
  }

  // After the last line: the totals to the report or the records. False
  // when a write to the destination failed.
  bool Finish() {
    if (export_records == nullptr) {
      report->Finish(totals);
      return !report->WriteFailed();
    }
    export_records->Finish(totals);
    return !export_records->WriteFailed();
  }
};

// The lines of the list read one at a time: each line's file read, then
// reported, then the next line.
void ReadOneLineAtATime(ListReader& list, ScanBuffer& buffer, LineOutputs& outputs) {
  const ScanContext context{&buffer, LargeFileSettings(), nullptr};
  ListLine line;
  for (;;) {
    // The progress so far shows while the list is awaited.
    if (!list.LineReady()) std::fflush(stdout);
    if (!list.Next(&line)) return;
    char name[ProgramRecord::kNameWidth + 1];
    ExternalName(line.text, name);
    outputs.Take(line.text,
                 line.too_long ? ProgramScan() : ReadProgram(line.text.data(), name, context));
  }
}

// The lines of the list read ahead: the files of the lines that have come
// are read while earlier lines are reported, and the list is waited for
// only when every line read is reported. Returns once the list has ended,
// or the workers were stopped and every line queued is reported.
void ReadAheadOnTheList(ListReader& list, ReadAhead& ahead, LineOutputs& outputs) {
  bool list_ended = false;
  while (!ahead.Stopped() || !ahead.Empty()) {
    bool list_waits = false;
    while (!ahead.Stopped() && !list_ended && ahead.RoomForABatch() && !ahead.Full()) {
      if (!list.LineReady()) {
        if (!ahead.Empty()) {
          list_waits = true;
          break;
        }
        std::fflush(stdout);  // the progress so far shows while the list is awaited
      }
      ListLine line;
      if (list.Next(&line)) {
        ahead.Add(line);
      } else {
        list_ended = true;
      }
    }
    if (ahead.Empty()) return;
    ahead.Publish(list_waits || list_ended);
    const QueuedLine& line = ahead.TakeOldest();
    outputs.Take({line.path, line.path_length}, line.scan);
  }
}

// The files of the run: what a worker must leave for their turn, and whether
// the list may be read by a process with workers at all.
struct RunFiles {
  OwnFiles own;
  // Standard output or error appends to the list, or the list's content
  // depends on the process reading it: one line at a time.
  bool list_needs_one_line_at_a_time = false;
};

RunFiles FilesOfTheRun(int report_fd, int list_fd) {
  RunFiles files;
  const std::optional<FileIdentity> list = FileOf(list_fd);
  if (const std::optional<FileIdentity> report = FileOf(report_fd)) files.own.Add(*report);
  for (const int output : {STDOUT_FILENO, STDERR_FILENO}) {
    const std::optional<FileIdentity> file = FileOf(output);
    if (!file) continue;
    files.own.Add(*file);
    if (list && *file == *list) files.list_needs_one_line_at_a_time = true;
  }
  if (OnReaderDependentFileSystem(list_fd)) files.list_needs_one_line_at_a_time = true;
  return files;
}

// Workers for this run: none where a worker could not tell the files that
// depend on the reading process, or where the list needs one line at a time.
int WorkersForThisRun(const RunFiles& files) {
  const int workers = ReadAhead::WorkersForThisMachine();
  if (workers == 0 || files.list_needs_one_line_at_a_time || !CanOpenAhead()) return 0;
  return workers;
}

// The memory a run cannot do without, taken before any file is touched.
// The list's buffer is page-aligned too: the kernel copies into it.
struct RunMemory {
  static constexpr size_t kListBufferSize = size_t{64} << 10;
  ScanBuffer scan;
  alignas(kPageAlignment) char list[kListBufferSize];
  char export_records[Export::kBufferSize];  // touched only with --csv or --json
};
static_assert(ListLine::kLongestPath <= Export::kLongestPath);

// Closes the list on every path out of the run.
struct ListDescriptor {
  int fd = -1;
  ~ListDescriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int Run(int argc, const char* const* argv) {
  if (!PrepareProcess()) return kExitFile;
  Options options;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, options, stdout, stderr)) {
    return *status;
  }
  // Without -R the terminal's sequences are never used.
  if (options.status_line) SetUpStatusLine(StatusLineTerminal());
  const MallocPtr<RunMemory> memory = NewOrNull<RunMemory>();
  if (!memory) {
    std::fprintf(stderr, "%s: out of memory\n", options.program_name);
    return kExitFile;
  }

  // Emptying the report must never destroy the list it is about to read.
  const char* list_path = std::getenv("LIST");
  UniqueFile report_file(list_path != nullptr && SameFile(list_path, options.report_path)
                             ? nullptr
                             : std::fopen(options.report_path, "w"));
  if (!report_file) {
    std::printf("Error opening dest_file : %s\n", options.report_path);
    return kExitFile;
  }
  char run_date[kRunDateSize];
  FormatToday(options.language, run_date);
  // The destination file gets the paged report or, with --csv or --json,
  // the records.
  std::optional<Report> report;
  std::optional<Export> export_records;
  if (options.export_format) {
    export_records.emplace(report_file.get(), *options.export_format, memory->export_records);
  } else {
    report.emplace(report_file.get(),
                   ReportSettings{.language = options.language,
                                  .new_page_code_on_every_title = options.status_line,
                                  .title_with_third_field = options.title_with_third_field,
                                  .run_date = run_date});
  }

  if (list_path == nullptr) {
    std::printf("Assign LIST not found\n");
    return kExitFile;
  }
  ListDescriptor list_file;
  do {
    list_file.fd = open(list_path, O_RDONLY | O_CLOEXEC);
  } while (list_file.fd < 0 && errno == EINTR);
  if (list_file.fd < 0) {
    std::printf("Error opening LIST file\n");
    return kExitFile;
  }
  ConfineTheRun();  // every file the run writes is open, no listed file is read yet
  const RunFiles files = FilesOfTheRun(fileno(report_file.get()), list_file.fd);
  const int workers = WorkersForThisRun(files);
  LineOutputs outputs{.options = options,
                      .report = report ? &*report : nullptr,
                      .export_records = export_records ? &*export_records : nullptr,
                      .totals = {}};
  ListReader list(list_file.fd, memory->list, sizeof memory->list);
  if (workers > 0) {
    const ReadAheadSettings settings{.workers = workers, .large_files = LargeFileSettings()};
    ReadAhead ahead(settings, files.own, memory->scan);
    ReadAheadOnTheList(list, ahead, outputs);
  }
  ReadOneLineAtATime(list, memory->scan, outputs);  // all of it, or what is left
  const bool write_ok = outputs.Finish() && !std::ferror(report_file.get()) &&
                        std::fclose(report_file.release()) == 0;
  int exit_status = outputs.file_errors ? kExitFile : kExitOk;
  if (list.Failed()) {
    std::printf("Error reading LIST file\n");
    exit_status = kExitFile;
  }
  if (!write_ok) {
    std::printf("Error writing dest_file : %s\n", options.report_path);
    exit_status = kExitFile;
  }
  return exit_status;
}

}  // namespace korrin
