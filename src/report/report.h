// The paged report: a 79-column listing whose lines start with a
// carriage-control character, one detail line per found program, and the
// totals at the end.
#pragma once

#include <cstdio>

#include "driver/run_state.h"
#include "reader/program_ref.h"

namespace korrin {

class Report {
 public:
  // Writes to `pEu`, which the driver opens and closes.
  Report(FILE* pEu, const RunState& run) : pEu_(pEu), run_(run) {}

  // One list line: a new page if the current one is full, the detail line
  // if the block was found, the closing rule if the page became full.
  void EditCrv(const ProgramRef& ref);
  void EditEnt1();                       // page header
  void EditRef1(const ProgramRef& ref);  // detail line
  void EditBas();                        // closing rule
  void EditStats();                      // totals
  // Writes `ligne` after the control character; it counts `n` lines.
  void EditLigne(int n);

  // True once any write to the report failed.
  bool WriteFailed() const { return failed_; }

  int cptL = 0;  // lines on the current page; the driver primes it to 61
  int cptP = 0;  // pages started

 private:
  FILE* pEu_;
  const RunState& run_;
  char ligne[128] = {};
  char saut[2] = {};
  bool failed_ = false;
};

}  // namespace korrin
