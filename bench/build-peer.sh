#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds korrin as it was at a revision, as a peer for `make bench OLD=...`,
# and prints the path of the program: build/bench/peers/REV/korrin.
#   bench/build-peer.sh REV
# Where bench/peers/REV.patch exists, it is applied first. It puts that
# build's read buffers on a page and its reads on 64-byte boundaries, as
# korrin's are today, so that the comparison is of the designs and not of
# where the buffers happen to sit (bench/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
rev=$1
dir=build/bench/peers/$rev
rm -rf "$dir"
mkdir -p "$dir/src"
git archive "$rev" | tar -x -C "$dir/src"
if [ -f "bench/peers/$rev.patch" ]; then
  patch -s -p1 -d "$dir/src" <"bench/peers/$rev.patch"
fi
cmake -S "$dir/src" -B "$dir/build" $(command -v ninja >/dev/null && echo -G Ninja) \
  -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF >/dev/null
cmake --build "$dir/build" --target korrin >/dev/null
cp "$dir/build/korrin" "$dir/korrin"
echo "$dir/korrin"
