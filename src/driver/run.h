// SPDX-License-Identifier: MIT
// One run of korrin, from the command line to the exit status.
#pragma once

namespace korrin {

// Runs korrin with the given command line and the process environment;
// returns the exit status.
int Run(int argc, const char* const* argv);

}  // namespace korrin
