#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a built .deb: its control fields, the files a distribution expects
# and the unpacked binary reporting on the sample programs
# (installed_files.sh), and lintian's verdict where lintian is installed.
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
bash "$(dirname "$0")/installed_files.sh" "$root/usr" "$src"
doc=$root/usr/share/doc/korrin
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

echo "package ok: $(basename "$deb"), Depends: $depends; $lintian_note"
