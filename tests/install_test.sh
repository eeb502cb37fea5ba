#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `make install` from a build directory of its own, as on a fresh clone:
# into a prefix, then staged under DESTDIR; each time every installed file
# is checked and the installed korrin run.
#   install_test.sh SOURCE_DIR
set -eu
src=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
here=$(dirname "$0")

install() {  # MAKE_VARIABLES...
  if ! make -s -C "$src" install BUILD="$scratch/build" "$@" >"$scratch/install.log" 2>&1; then
    cat "$scratch/install.log"
    echo "install test: make install $* failed" >&2
    exit 1
  fi
}
install PREFIX="$scratch/prefix"
bash "$here/installed_files.sh" "$scratch/prefix" "$src"
install PREFIX=/usr DESTDIR="$scratch/stage"
bash "$here/installed_files.sh" "$scratch/stage/usr" "$src"
echo "install ok: make install with PREFIX, and with DESTDIR"
