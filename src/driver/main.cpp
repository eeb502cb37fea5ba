// SPDX-License-Identifier: MIT
#include <cstdio>
#include <exception>

#include "driver/options.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  try {
    return korrin::Run(argc, argv);
  } catch (const std::exception& e) {
    // Nothing in a run is meant to throw; if something does, say so and fail.
    std::fprintf(stderr, "%s: %s\n", argc > 0 ? argv[0] : "korrin", e.what());
    return korrin::kExitFile;
  }
}
