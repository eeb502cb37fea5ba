#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual page lints clean, and documents every option letter that korrin
# accepts (found by asking korrin about each printable character).
#   man_page_test.sh MAN_PAGE KORRIN [EMULATOR...]
set -u
man=$1 korrin=$2
shift 2
emulator=("$@")  # what runs korrin in a cross build
status=0
if ! command -v groff >/dev/null; then
  echo "skipped: groff not found (apt-get install groff-base)"
  exit 77  # CTest's skip code for this test
fi
warnings=$(groff -man -ww -z "$man" 2>&1)
if [ -n "$warnings" ]; then
  echo "groff warns about $man:"; echo "$warnings"; status=1
fi
options=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$man")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
accepted=""
for code in $(seq 33 126); do
  c=$(printf "\\$(printf '%03o' "$code")")
  [ "$c" = - ] && continue
  # An accepted letter gets past the command line and fails on the report
  # file (status 4) or gives the help (0); a refused one is a usage error (1).
  (cd "$scratch" && "${emulator[@]}" "$korrin" "missing/out.txt" "-$c" >/dev/null 2>&1)
  [ $? -ne 1 ] || continue
  accepted+="$c"
  if ! grep -qE '\\-'"$c"'([^A-Za-z]|$)' <<<"$options"; then
    echo "option -$c is accepted but not documented in OPTIONS"; status=1
  fi
done
[ "$accepted" = EFRcefhloru ] || { echo "accepted letters changed: $accepted"; status=1; }
[ $status -eq 0 ] && echo "man page clean; options documented: $accepted"
exit $status
