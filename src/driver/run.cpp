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
#include "driver/console.h"
#include "driver/line_reading.h"
#include "driver/list_reader.h"
#include "driver/memory.h"
#include "driver/options.h"
#include "driver/process_setup.h"
#include "driver/read_ahead.h"
#include "driver/run_date.h"
#include "report/export.h"
#include "report/report.h"

namespace korrin {
namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// True when both paths name one existing file, links followed.
bool SameFile(const char* a, const char* b) {
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 && IdentityOf(first) == IdentityOf(second);
}

// The report file, created or emptied; none when it is the list itself,
// which emptying it would destroy.
UniqueFile OpenReport(const char* list_path, const char* report_path) {
  if (list_path != nullptr && SameFile(list_path, report_path)) return nullptr;
  return UniqueFile(std::fopen(report_path, "w"));
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

// Where each list line's result goes, in list order: the progress line or
// the status line, the file's error message, the totals, and the report or
// the records of --csv and --json that replace it.
class LineOutputs {
 public:
  LineOutputs(Console& console, const Options& options, FILE* out, char* export_buffer)
      : console_(console) {
    if (options.export_format) {
      export_records_.emplace(out, *options.export_format, export_buffer);
      return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    FormatRunDate(local, options.language, run_date_);
    report_.emplace(out, ReportSettings{.language = options.language,
                                        .new_page_code_on_every_title = options.status_line,
                                        .title_with_third_field = options.title_with_third_field,
                                        .run_date = run_date_});
  }

  void Take(std::string_view path, const ProgramScan& scan) {
    ++totals_.files_listed;
    if (scan.opened) {
      console_.Announce(path);
      totals_.total_bytes += static_cast<uint64_t>(scan.size);
    }
    if (scan.error != FileError::None) {
      console_.Say(
          scan.error == FileError::Open ? "Error opening file : " : "Error reading file : ", path);
      file_errors_ = true;
    }
    if (report_) {
      report_->AddProgram(scan.record);
    } else {
      export_records_->Add({.line = totals_.files_listed, .path = path, .scan = &scan});
    }
  }

  // After the last line: the totals to the report or the records. False
  // when a write to the destination failed.
  bool Finish() {
    if (report_) {
      report_->Finish(totals_);
      return !report_->WriteFailed();
    }
    export_records_->Finish(totals_);
    return !export_records_->WriteFailed();
  }
  bool file_errors() const { return file_errors_; }

 private:
  Console& console_;
  char run_date_[kRunDateSize] = {};
  std::optional<Report> report_;
  std::optional<Export> export_records_;
  Totals totals_;
  bool file_errors_ = false;  // a listed file could not be opened or read
};

// The list file, open on every path out of the run.
struct ListFile {
  int fd;
  explicit ListFile(const char* path) {
    do {
      fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  }
  ~ListFile() {
    if (fd >= 0) close(fd);
  }
  ListFile(const ListFile&) = delete;
  ListFile& operator=(const ListFile&) = delete;
};

// Every list line, queued as it comes and reported in list order. The list
// is waited for only once every line queued is reported.
void ReportEachLine(ListReader& list, const RunFiles& files, ScanBuffer& buffer,
                    LineOutputs& outputs, Console& console) {
  ReadAhead engine({.workers = WorkersForThisRun(files), .large_files = {}}, files.own, buffer);
  bool list_ended = false;
  for (;;) {
    bool more_lines_ready = true;
    for (uint64_t room = engine.Room(); room > 0 && !list_ended; --room) {
      if (!list.LineReady()) {
        more_lines_ready = false;
        if (!engine.Empty()) break;
        console.Flush();  // the progress so far shows while the list is awaited
      }
      ListLine line;
      if (!list.Next(&line)) {
        list_ended = true;
        break;
      }
      engine.Add(line);
    }
    if (engine.Empty()) return;
    const QueuedLine& line = engine.TakeOldest(more_lines_ready && !list_ended);
    outputs.Take({line.path, line.path_length}, line.scan);
  }
}

// The messages and the status once the list is read.
int EndOfRun(bool list_failed, bool written, const Options& options, const LineOutputs& outputs,
             Console& console) {
  int status = outputs.file_errors() ? kExitFile : kExitOk;
  if (list_failed) {
    console.Say("Error reading LIST file");
    status = kExitFile;
  }
  if (!written) {
    console.Say("Error writing dest_file : ", options.report_path);
    status = kExitFile;
  }
  return status;
}

}  // namespace

int Run(int argc, const char* const* argv) {
  if (!PrepareProcess()) return kExitFile;
  Options options;
  if (const std::optional<int> status = ParseCommandLine(argc, argv, options, stdout, stderr)) {
    return *status;
  }
  Console console(options);
  const MallocPtr<RunMemory> memory = NewOrNull<RunMemory>();
  if (!memory) {
    std::fprintf(stderr, "%s: out of memory\n", options.program_name);
    return kExitFile;
  }
  const char* list_path = std::getenv("LIST");
  UniqueFile report_file = OpenReport(list_path, options.report_path);
  if (!report_file) {
    console.Say("Error opening dest_file : ", options.report_path);
    return kExitFile;
  }
  LineOutputs outputs(console, options, report_file.get(), memory->export_records);
  if (list_path == nullptr) {
    console.Say("Assign LIST not found");
    return kExitFile;
  }
  const ListFile list_file(list_path);
  if (list_file.fd < 0) {
    console.Say("Error opening LIST file");
    return kExitFile;
  }
  ConfineTheRun();  // every file the run writes is open, no listed file is read yet
  const RunFiles files = FilesOfTheRun(fileno(report_file.get()), list_file.fd);
  ListReader list(list_file.fd, memory->list, sizeof memory->list);
  ReportEachLine(list, files, memory->scan, outputs, console);
  const bool written = outputs.Finish() && !std::ferror(report_file.get()) &&
                       std::fclose(report_file.release()) == 0;
  return EndOfRun(list.Failed(), written, options, outputs, console);
}

}  // namespace korrin
