// SPDX-License-Identifier: MIT
// The command line over arbitrary argument vectors: arguments are the input
// split at NUL bytes. The paths that end the process return a status here.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  std::vector<std::string> args(1);
  for (size_t k = 0; k < size; ++k) {
    if (data[k] == '\0') {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[k]);
    }
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  korrin::Options options;
  const std::optional<int> status =
      korrin::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, sink, sink);
  if (status && *status != korrin::kExitOk && *status != korrin::kExitUsage) std::abort();
  // A run goes on only with a destination and no help asked.
  if (!status && options.help) std::abort();
  return 0;
}
