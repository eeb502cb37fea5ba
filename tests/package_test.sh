#!/usr/bin/env bash
# Checks a built .deb: it unpacks into a scratch root with the binary and the
# manual page where expected, declares its library dependencies, and the
# unpacked binary reports on the sample programs.
#   package_test.sh DEB SOURCE_DIR
set -eu
deb=$1 src=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$root"
[ -x "$root/usr/bin/korrin" ] || fail "usr/bin/korrin missing"
[ -f "$root/usr/share/man/man1/korrin.1" ] || [ -f "$root/usr/share/man/man1/korrin.1.gz" ] ||
  fail "usr/share/man/man1/korrin.1 missing"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libtinfo6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

out=$(cd "$src" && LIST=examples/programs.lst "$root/usr/bin/korrin" "$root/report.txt")
[ "$(grep -c '^File processed : ' <<<"$out")" -eq 12 ] || fail "progress lines: $out"
grep -q '^     Number of processed files........: 13$' "$root/report.txt" ||
  fail "report totals"
[ "$(grep -cE '^ I [A-Z0-9_]+ +I [A-Z0-9]{6} I [0-9]{4}/' "$root/report.txt")" -eq 10 ] || fail "report detail lines"
echo "package ok: $(basename "$deb"), Depends: $depends"
