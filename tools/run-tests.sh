#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Configures and builds one test build, runs CTest on it, and prints CTest's
# summary: failures with their output, skipped tests with their reason, and
# the totals. While the build runs, its progress shows (on one line on a
# terminal); its whole output is shown only when it fails.
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

# Reads the build's output, keeps it in build.log, and shows how far it is:
# Ninja's "[step/steps]" or Make's "[ nn%]".
show_progress() {
  local line percent shown=-1
  while IFS= read -r line; do
    printf '%s\n' "$line" >>"$dir/build.log"
    if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
      percent=$((100 * BASH_REMATCH[1] / BASH_REMATCH[2]))
    elif [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
      percent=${BASH_REMATCH[1]}
    else
      continue
    fi
    if [ -t 1 ]; then
      printf '\r   building: %3d%%' "$percent"
    elif ((percent / 25 > shown)); then  # a log: a line at each quarter
      shown=$((percent / 25))
      echo "   building: $percent%"
    fi
  done
  if [ -t 1 ]; then printf '\r\033[K'; fi
}
: >"$dir/build.log"
cmake --build "$dir" 2>&1 | show_progress
if [ "${PIPESTATUS[0]}" != 0 ]; then
  cat "$dir/build.log"
  exit 1
fi

# One line per passing or skipped test is noise; the skipped ones are listed
# at the end with their reason instead.
ctest --test-dir "$dir" -j2 --output-on-failure >"$dir/ctest.log" 2>&1
status=$?
awk '/^The following tests did not run:/ { skipping = 1; next }
     skipping && /^\t/ { next }
     { skipping = 0 }
     /^Internal ctest changing into directory|^ *Start +[0-9]+: / { next }
     /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .*( Passed|\*\*\*Skipped) +[0-9.]+ sec$/ { next }
     { print }' "$dir/ctest.log"

# The reason of each skipped test: the line after GoogleTest's "Skipped", or
# a script's line that says "skipped".
skipped=$(sed -nE 's/^\t *[0-9]+ - (.*) \(Skipped\)$/\1/p' "$dir/ctest.log" | sed 's/  # GetParam.*//')
if [ -n "$skipped" ]; then
  echo "Skipped, with the reason:"
  awk -v names="$skipped" '
    BEGIN { n = split(names, list, "\n"); for (k = 1; k <= n; ++k) wanted[list[k]] = 1 }
    /^[0-9]+\/[0-9]+ Testing: / { name = $0; sub(/^[^:]*: /, "", name); sub(/  # GetParam.*/, "", name); next }
    after_skipped { reason[name] = $0; after_skipped = 0; next }
    /: Skipped$/ { after_skipped = 1; next }
    tolower($0) ~ /skipped: / && !(name in reason) { reason[name] = $0 }
    END { for (k = 1; k <= n; ++k) printf "  %s: %s\n", list[k], (list[k] in reason ? reason[list[k]] : "(no reason given)") }
  ' "$dir/Testing/Temporary/LastTest.log"
fi
exit "$status"
