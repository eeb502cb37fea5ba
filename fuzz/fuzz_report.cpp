// The report writer over arbitrary records and counters: every line stays
// within the line buffer, and the page state stays in its range.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report/report.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  template <typename T>
  T Take() {
    T value{};
    const size_t n = std::min(sizeof value, size);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
  }
  void Fill(char* field, size_t capacity) {  // a NUL-terminated value
    const size_t n = std::min(capacity - 1, size);
    std::memcpy(field, data, n);
    field[n] = '\0';
    data += n;
    size -= n;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  korrin::RunState run;
  const auto flags = in.Take<uint8_t>();
  run.ArgOpf = flags & 1;
  run.ArgOpR = (flags & 2) != 0;
  run.ArgOpr = (flags & 4) != 0;
  run.nbP = in.Take<int64_t>();
  run.TailleTot = in.Take<uint64_t>();
  in.Fill(run.datejour, 11);

  char* text = nullptr;
  size_t text_size = 0;
  FILE* out = open_memstream(&text, &text_size);
  korrin::Report report(out, run);
  report.cptP = in.Take<uint16_t>() % 2000;  // up to four-digit pages
  report.cptL = 61;
  while (in.size > 0) {
    korrin::ProgramRef ref;
    ref.Status = (in.Take<uint8_t>() & 1) != 0 ? '1' : '0';
    for (auto [field, capacity] : {std::pair<char*, size_t>{ref.ExtName, 9},
                                   {ref.CrvCode, 7},
                                   {ref.GenDate, 11},
                                   {ref.GenTime, 9},
                                   {ref.Session, 6},
                                   {ref.Library, 4},
                                   {ref.UserCode, 9}}) {
      in.Fill(field, capacity);
    }
    report.EditCrv(ref);
    if (report.cptL < 7 || report.cptL > 61 || report.cptL == 60) std::abort();
  }
  if (report.cptL <= 59) report.EditBas();
  report.EditStats();
  std::fclose(out);
  std::free(text);
  return 0;
}
