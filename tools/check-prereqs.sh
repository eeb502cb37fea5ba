#!/usr/bin/env bash
# Says which Debian package to install when a build prerequisite is missing.
# With the argument "test", the test prerequisites are checked too.
missing=0
need() {  # need TEST PACKAGE WHAT
  if ! eval "$1" >/dev/null 2>&1; then
    echo "korrin: $3 not found; install it with: apt-get install $2" >&2
    missing=1
  fi
}
need 'command -v cmake' cmake 'cmake'
need 'command -v c++' g++ 'a C++ compiler (c++)'
need 'command -v make' make 'make'
need 'test -f /usr/include/termcap.h' libncurses-dev 'the ncurses headers (termcap.h)'
if [ "${1:-}" = test ]; then
  need 'test -f /usr/include/gtest/gtest.h' libgtest-dev 'GoogleTest (gtest/gtest.h)'
fi
exit $missing
