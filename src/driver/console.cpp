// SPDX-License-Identifier: MIT
#include "driver/console.h"

#include "driver/status_line.h"

namespace korrin {
namespace {

// The progress label, in the order of Language.
constexpr const char* kProgressLabels[] = {"File processed", "Fichier traite"};

void WriteText(std::string_view text, FILE* out) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace

Console::Console(const Options& options)
    : label_(kProgressLabels[static_cast<int>(options.language)]),
      quiet_(options.quiet),
      status_line_(options.status_line),
      messages_(options.quiet ? stderr : stdout) {
  // Without the status line the terminal's sequences are never used.
  if (status_line_ && !quiet_) SetUpStatusLine(StatusLineTerminal());
}

Console::~Console() {
  ClearStatusLine();
}

void Console::Announce(std::string_view path) {
  if (quiet_) return;
  if (status_line_) {
    // The status line shows the label alone.
    char text[80];
    std::snprintf(text, sizeof text, "%s : %s\n", label_, "");
    ShowStatus(text);
    return;
  }
  std::fputs(label_, stdout);
  std::fputs(" : ", stdout);
  WriteText(path, stdout);
  std::putc('\n', stdout);
}

void Console::Say(std::string_view text, std::string_view name) {
  ClearStatusLine();
  WriteText(text, messages_);
  WriteText(name, messages_);
  std::putc('\n', messages_);
}

}  // namespace korrin
