// SPDX-License-Identifier: MIT
// The paged report: a 79-column listing whose lines start with a
// carriage-control character, one detail line per found program, and the
// totals at the end.
#pragma once

#include <cstdio>

#include "common/language.h"
#include "common/program_record.h"
#include "common/totals.h"

namespace korrin {

struct ReportSettings {
  Language language = Language::English;
  bool new_page_code_on_every_title = false;  // "1" opens every page, the first included
  bool title_with_third_field = false;        // the run date one column further right
  const char* run_date = "";                  // 10 characters
};

class Report {
 public:
  // Writes to `out`, which the caller opens and closes.
  Report(FILE* out, const ReportSettings& settings) : out_(out), settings_(settings) {}

  // One list line: a new page if the current one is full, the detail line
  // if the block was found, the closing rule if the page became full.
  void AddProgram(const ProgramRecord& record);
  // After the last list line: the closing rule of a page still open, then
  // the totals.
  void Finish(const Totals& totals);
  // True once any write to the report failed.
  bool WriteFailed() const { return write_failed_; }

 private:
  void StartPage();                               // the seven header lines
  void WriteDetail(const ProgramRecord& record);  // nothing when not found
  void WriteClosingRule();
  void WriteTotals(const Totals& totals);
  // Writes the control character and `line_`; the line counts as `counted`
  // physical lines on the page.
  void WriteLine(int counted);

  FILE* out_;
  ReportSettings settings_;
  // Above the page limit, so that the first list line starts page 1.
  int lines_on_page_ = 61;
  int page_ = 0;
  char line_[128] = {};
  char control_[2] = {};  // empty until the first line is written
  bool write_failed_ = false;
};

}  // namespace korrin
