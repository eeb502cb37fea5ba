#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Says which Debian package to install when a build command is missing. The
# libraries (ncurses, GoogleTest) are looked for by CMake itself, which names
# their packages when it cannot find them.
missing=0
need() {  # need COMMAND PACKAGE
  if ! command -v "$1" >/dev/null 2>&1; then
    echo "korrin: $1 not found; install it with: apt-get install $2" >&2
    missing=1
  fi
}
need cmake cmake
need c++ g++
need make make
exit $missing
