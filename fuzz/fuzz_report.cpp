// SPDX-License-Identifier: MIT
// The report writer over arbitrary records and counters: every line stays
// within the line buffer, page numbers of four digits included.
#include <algorithm>
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
  const auto flags = in.Take<uint8_t>();
  char run_date[11];
  korrin::Totals totals;
  totals.files_listed = in.Take<int64_t>();
  totals.total_bytes = in.Take<uint64_t>();
  in.Fill(run_date, sizeof run_date);
  const korrin::ReportSettings settings{
      .language = (flags & 1) != 0 ? korrin::Language::French : korrin::Language::English,
      .new_page_code_on_every_title = (flags & 2) != 0,
      .title_with_third_field = (flags & 4) != 0,
      .run_date = run_date};

  char* text = nullptr;
  size_t text_size = 0;
  FILE* out = open_memstream(&text, &text_size);
  korrin::Report report(out, settings);
  // Now and then, enough pages for four-digit page numbers: 53 found
  // programs fill a page.
  const int pages = (flags & 56) == 56 ? 990 + in.Take<uint8_t>() % 20 : 0;
  korrin::ProgramRecord filler;
  filler.found = true;
  for (int k = 0; k < pages * 53; ++k) report.AddProgram(filler);
  while (in.size > 0) {
    korrin::ProgramRecord record;
    record.found = (in.Take<uint8_t>() & 1) != 0;
    in.Fill(record.name, sizeof record.name);
    for (int k = 0; k < korrin::kConstantCount; ++k) {
      const auto constant = static_cast<korrin::Constant>(k);
      in.Fill(record.constants.Text(constant), static_cast<size_t>(korrin::WidthOf(constant)) + 1);
    }
    report.AddProgram(record);
  }
  report.Finish(totals);
  std::fclose(out);
  std::free(text);
  return 0;
}
