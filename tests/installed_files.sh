#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks what an installation put under ROOT (a prefix such as /usr): the
# binary, the compressed manual page and changelog, the copyright file, and
# the installed binary reporting on the sample programs.
#   installed_files.sh ROOT SOURCE_DIR
set -eu
root=$1 src=$2
fail() { echo "installed files under $root: $*" >&2; exit 1; }

[ -x "$root/bin/korrin" ] || fail "bin/korrin missing"
for file in share/man/man1/korrin.1.gz share/doc/korrin/changelog.gz; do
  [ -f "$root/$file" ] || fail "$file missing"
  gzip -t "$root/$file" || fail "$file is not gzip data"
  # gzip -n: no name or time stamp in the header, so builds are reproducible
  [ "$(od -An -tu4 -j4 -N4 "$root/$file" | tr -d ' ')" = 0 ] || fail "$file has a time stamp"
done
zcat "$root/share/man/man1/korrin.1.gz" | grep -q '^\.TH KORRIN 1' || fail "korrin.1.gz is no manual page"
copyright=$root/share/doc/korrin/copyright
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$copyright" || fail "copyright is not machine-readable"
grep -q '^License: MIT' "$copyright" || fail "copyright names no licence"

report=$(mktemp)
trap 'rm -f "$report"' EXIT
out=$(cd "$src" && LIST=examples/programs.lst "$root/bin/korrin" "$report")
[ "$(grep -c '^File processed : ' <<<"$out")" -eq 12 ] || fail "progress lines: $out"
grep -q '^     Number of processed files........: 13$' "$report" || fail "report totals"
[ "$(grep -cE '^ I [A-Z0-9_]+ +I [A-Z0-9]{6} I [0-9]{4}/' "$report")" -eq 10 ] ||
  fail "report detail lines"
