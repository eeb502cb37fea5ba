// One run of korrin, from the command line to the exit status.
#pragma once

namespace korrin {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFile = 4;

// Runs korrin with the given command line and the process environment;
// returns the exit status.
int RunKorrin(int argc, const char* const* argv);

}  // namespace korrin
