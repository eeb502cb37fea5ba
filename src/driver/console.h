// SPDX-License-Identifier: MIT
// What a run writes besides its report: a progress line for each opened
// file, or the status line of -R, and the run's messages.
#pragma once

#include <cstdio>
#include <string_view>

#include "driver/options.h"

namespace korrin {

class Console {
 public:
  // With --quiet: no progress, and the messages go to standard error. With
  // -R, looks up the status line's sequences.
  explicit Console(const Options& options);
  // Sends what the status line still holds back.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // A listed file was opened: its progress line, or the status line.
  void Announce(std::string_view path);
  // One message line: `text`, then `name` when there is one.
  void Say(std::string_view text, std::string_view name = {});
  // Before the run waits for its list: what was written shows.
  void Flush() { std::fflush(stdout); }

 private:
  const char* label_;  // the progress label, in the run's language
  bool quiet_;
  bool status_line_;
  FILE* messages_;
};

}  // namespace korrin
