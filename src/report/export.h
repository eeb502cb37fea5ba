// SPDX-License-Identifier: MIT
// The records of --csv and --json: in place of the paged report, one record
// per list line, in list order, for scripts, spreadsheets and databases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "common/program_record.h"
#include "common/totals.h"

namespace korrin {

enum class ExportFormat {
  Csv,   // a header row, then one row per line (RFC 4180 quoting)
  Json,  // JSON Lines: one object per line, then a summary object
};

// One list line as the run saw it.
struct ListedProgram {
  int64_t line = 0;       // its number in the list, from 1
  std::string_view path;  // the line's text, which holds no NUL
  const ProgramScan* scan = nullptr;
};

class Export {
 public:
  // The longest path a record may hold, and the buffer that holds a
  // record of it, whatever its bytes.
  static constexpr size_t kLongestPath = 4095;
  static constexpr size_t kBufferSize = size_t{32} << 10;

  // Writes to `out`, which the caller opens and closes, through `buffer` of
  // kBufferSize bytes, which the caller owns; CSV's header row first.
  // Records reach `out` in large writes, the rest at Finish: a run that
  // stops before it reads its list leaves the file empty.
  Export(FILE* out, ExportFormat format, char* buffer);
  Export(const Export&) = delete;
  Export& operator=(const Export&) = delete;

  // The record of one list line.
  void Add(const ListedProgram& program);
  // After the last list line: the summary of JSON, then all that is
  // pending handed to `out`.
  void Finish(const Totals& totals);
  // True once any write to `out` failed.
  bool WriteFailed() const { return write_failed_; }

 private:
  char* AddCsv(const ListedProgram& program, char* out) const;
  char* AddJson(const ListedProgram& program, char* out) const;
  void Flush();

  FILE* out_;
  ExportFormat format_;
  // Records are gathered here and handed to `out` in large writes: one
  // stdio call per field would cost more than the rest of a record.
  char* buffer_;
  size_t pending_ = 0;
  bool write_failed_ = false;
};

// Whether `bytes` are UTF-8 as JSON text must be (RFC 3629): no overlong
// forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view bytes);

// The ISO form of a generation date as stored: YYYY-MM-DD into `iso` when
// `date` is DD/MM/YYYY in digits and a day of the Gregorian calendar
// (years 0001 to 9999); false otherwise.
constexpr size_t kIsoDateSize = 11;
bool IsoDate(std::string_view date, char (&iso)[kIsoDateSize]);

}  // namespace korrin
