#include "driver/run.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "driver/args.h"
#include "driver/list_line.h"
#include "driver/run_date.h"
#include "driver/status_line.h"
#include "reader/block_search.h"
#include "report/report.h"

namespace korrin {
namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

void SetRunDate(RunState& run) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  FormatDateJour(local, run.ArgOpf == 1, run.datejour);
}

// Reads the list file to its end, one record per line. Returns false when a
// read fails before the end.
bool ReadList(FILE* list, RunState& run, Report& report) {
  ProgramRef zopara;
  ListReader reader(list);
  std::string_view line;
  while (reader.Next(&line)) {
    ++run.nbP;
    TakeListLine(line, zopara);
    CrvDay(zopara, run);
    report.EditCrv(zopara);
  }
  return !reader.Failed();
}

}  // namespace

int RunKorrin(int argc, const char* const* argv) {
  TermSetup();
  CommandLine cl;
  RunState run;
  const int status = ReadArgs(argc, argv, cl, run, stdout, stderr);
  if (status != kContinue) return status;
  run.Lib1 = run.ArgOpf == 1 ? "Fichier traite" : "File processed";

  UniqueFile pEu(std::fopen(cl.ArgDest.c_str(), "w"));
  if (!pEu) {
    std::printf("Error opening dest_file : %s\n", cl.ArgDest.c_str());
    return kExitFile;
  }
  Report report(pEu.get(), run);
  report.cptP = 0;
  report.cptL = 61;
  SetRunDate(run);

  const char* list_name = std::getenv("LIST");
  if (list_name == nullptr) {
    std::printf("Assign LIST not found\n");
    return kExitFile;
  }
  UniqueFile list(std::fopen(list_name, "r"));
  if (!list) {
    std::printf("Error opening LIST file\n");
    return kExitFile;
  }
  const bool read_ok = ReadList(list.get(), run, report);

  if (report.cptL <= 59) report.EditBas();
  report.EditStats();
  list.reset();
  const bool write_ok =
      !report.WriteFailed() && !std::ferror(pEu.get()) && std::fclose(pEu.release()) == 0;
  int exit_status = kExitOk;
  if (!read_ok) {
    std::printf("Error reading LIST file\n");
    exit_status = kExitFile;
  }
  if (!write_ok) {
    std::printf("Error writing dest_file : %s\n", cl.ArgDest.c_str());
    exit_status = kExitFile;
  }
  return exit_status;
}

}  // namespace korrin
