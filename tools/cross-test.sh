#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds korrin and its tests for another processor with Debian's cross
# compiler and runs the test suite under qemu-user (the toolchain files of
# cmake/toolchains/), printing CTest's summary as run-tests.sh does.
#   cross-test.sh TRIPLET      (i686-linux-gnu or s390x-linux-gnu)
set -uo pipefail
cd "$(dirname "$0")/.."
triplet=$1
bash tools/cross-prereqs.sh "$triplet"
status=$?
[ $status = 77 ] && exit 0  # said why
[ $status = 0 ] || exit $status
bash tools/run-tests.sh "build/cross/$triplet" \
  "the tests built for $triplet, run under qemu-user (build/cross/$triplet)" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$triplet.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORRIN_WERROR=ON
