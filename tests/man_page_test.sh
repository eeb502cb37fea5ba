#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual page lints clean, documents every option letter that korrin
# accepts (found by asking korrin about each printable character) and every
# long option its --help names, and carries its version.
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
# Every long option that --help names is in OPTIONS too, and the page
# carries the version that --version prints.
longs=$("${emulator[@]}" "$korrin" --help | grep -oE -- '--[a-z]+' | sort -u)
[ -n "$longs" ] || { echo "--help names no long option"; status=1; }
for long in $longs; do
  # An entry of its own: the line after a .TP names it.
  if ! grep -A1 '^\.TP' <<<"$options" | grep -qE '^\.BR? \\-\\-'"${long#--}"'( |$)'; then
    echo "option $long is in --help but has no entry in OPTIONS"; status=1
  fi
done
version=$("${emulator[@]}" "$korrin" --version | head -1)
grep -q "^\.TH .*\"$version\"" "$man" || { echo "the man page's title does not say $version"; status=1; }
[ $status -eq 0 ] && echo "man page clean; options documented: $accepted" $longs
exit $status
