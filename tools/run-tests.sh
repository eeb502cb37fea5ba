#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds one test build, runs CTest on it, and prints CTest's
# summary: failures with their output, skipped tests with their reason, and
# the totals. The build's own output is shown only when it fails.
#   run-tests.sh BUILD_DIR LABEL [CMAKE_ARGUMENTS...]
set -uo pipefail
dir=$1 label=$2
shift 2
generator=()
# Ninja when it is there, unless CMAKE_GENERATOR chooses.
[ -z "${CMAKE_GENERATOR+set}" ] && command -v ninja >/dev/null && generator=(-G Ninja)
mkdir -p "$dir"
echo "== $label"
if ! cmake -S . -B "$dir" "${generator[@]}" "$@" >"$dir/configure.log" 2>&1; then
  cat "$dir/configure.log"
  exit 1
fi
if ! cmake --build "$dir" >"$dir/build.log" 2>&1; then
  cat "$dir/build.log"
  exit 1
fi
# One line per passing test is noise; everything else is kept.
ctest --test-dir "$dir" -j2 --output-on-failure 2>&1 |
  grep -vE '^Internal ctest changing into directory|^ *Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$'
exit "${PIPESTATUS[0]}"
