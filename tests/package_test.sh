#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a built .deb: its control fields, the files a distribution expects
# (the binary, the compressed manual page, the copyright file and the
# compressed changelog), lintian's verdict where lintian is installed, and
# the unpacked binary reporting on the sample programs.
#   package_test.sh DEB SOURCE_DIR
set -eu
deb=$1 src=$2
if ! command -v dpkg-deb >/dev/null; then
  echo "package test: skipped: dpkg-deb not found (apt-get install dpkg)"
  exit 77
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$root"
[ -x "$root/usr/bin/korrin" ] || fail "usr/bin/korrin missing"
doc=$root/usr/share/doc/korrin
for file in usr/share/man/man1/korrin.1.gz usr/share/doc/korrin/changelog.gz; do
  [ -f "$root/$file" ] || fail "$file missing"
  gzip -t "$root/$file" || fail "$file is not gzip data"
  # gzip -n: no name or time stamp in the header, so builds are reproducible
  [ "$(od -An -tu4 -j4 -N4 "$root/$file" | tr -d ' ')" = 0 ] || fail "$file has a time stamp"
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$doc/copyright" || fail "copyright is not machine-readable"
grep -q '^License: MIT' "$doc/copyright" || fail "copyright names no licence"
zcat "$doc/changelog.gz" | head -1 | grep -q "^korrin ($(dpkg-deb -f "$deb" Version))" ||
  fail "changelog does not start with this version"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libtinfo6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "Section is not utils"
[ "$(dpkg-deb -f "$deb" Priority)" = optional ] || fail "Priority is not optional"
description=$(dpkg-deb -f "$deb" Description)
[ "$(wc -l <<<"$description")" -ge 3 ] || fail "no long description: $description"

if command -v lintian >/dev/null; then
  lintian_out=$(lintian --no-tag-display-limit "$deb" 2>&1) || true
  if grep -q '^E: ' <<<"$lintian_out"; then
    fail "lintian errors:
$lintian_out"
  fi
  lintian_note="lintian: no errors ($(grep -c '^[WI]: ' <<<"$lintian_out" || true) warnings and notes)"
else
  lintian_note="lintian: not run (not installed; apt-get install lintian)"
fi

out=$(cd "$src" && LIST=examples/programs.lst "$root/usr/bin/korrin" "$root/report.txt")
[ "$(grep -c '^File processed : ' <<<"$out")" -eq 12 ] || fail "progress lines: $out"
grep -q '^     Number of processed files........: 13$' "$root/report.txt" ||
  fail "report totals"
[ "$(grep -cE '^ I [A-Z0-9_]+ +I [A-Z0-9]{6} I [0-9]{4}/' "$root/report.txt")" -eq 10 ] ||
  fail "report detail lines"
echo "package ok: $(basename "$deb"), Depends: $depends; $lintian_note"
