#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times korrin against peer tools and a floor on four workloads, with a warm
# page cache, interleaving the commands over ROUNDS rounds (default 7).
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${ROUNDS:-7}
SEED=${SEED:-1}
OUT=build/bench
CORPUS=$OUT/corpus
KORRIN=build/release/korrin
mkdir -p "$OUT"

[ -x /usr/bin/time ] || apt-get install -y time >/dev/null
cmake -S . -B build/release $(command -v ninja >/dev/null && echo -G Ninja) \
  -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF >/dev/null
cmake --build build/release --target korrin >/dev/null
g++ -O2 -std=c++20 -o "$OUT/make_corpus" bench/make_corpus.cpp
g++ -O2 -std=c++20 -o "$OUT/floor" bench/floor.cpp

# The big file is 2 GiB, or 1 GiB when the disk is short.
free_mib=$(df -Pm "$OUT" | awk 'NR==2 {print $4}')
BIG_MIB=2048
[ "$free_mib" -gt 8192 ] || BIG_MIB=1024
for w in many deep big missing; do
  if [ ! -f "$CORPUS/$w.lst" ]; then
    echo "writing the $w corpus..." >&2
    "$OUT/make_corpus" "$CORPUS" "$w" "$SEED" "$BIG_MIB"
  fi
done

now() { date +%s%N; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# The commands of a workload, as "name|command" lines.
commands() {
  local list=$CORPUS/$1.lst limit=-1
  [ "$1" = many ] && limit=10240  # the first chunk and a window
  echo "korrin|LIST=$list $KORRIN $OUT/report.txt >/dev/null"
  echo "grep|xargs -d '\n' -a $list grep -F -l -- WORKING >/dev/null 2>&1 || true"
  [ "$1" = big ] && echo "grep-c|grep -F -c WORKING \$(cat $list) >/dev/null || true"
  echo "cat|xargs -d '\n' -a $list cat >/dev/null 2>&1 || true"
  echo "floor|$OUT/floor $limit < $list >/dev/null"
  echo "floor+stat|$OUT/floor $limit stat < $list >/dev/null"
}

summary=""
for w in many deep big missing; do
  mapfile -t cmds < <(commands "$w")
  declare -A times=()
  for c in "${cmds[@]}"; do eval "${c#*|}"; done  # warm-up, untimed
  for ((r = 0; r < ROUNDS; r++)); do
    for c in "${cmds[@]}"; do
      t0=$(now); eval "${c#*|}"; t1=$(now)
      times[${c%%|*}]+="$(( (t1 - t0) / 1000 )) "
    done
  done
  declare -A med=()
  printf '%-8s' "$w:"
  for c in "${cmds[@]}"; do
    n=${c%%|*}
    med[$n]=$(tr ' ' '\n' <<<"${times[$n]}" | grep . | median)
    printf ' %s %.3f s' "$n" "$(awk -v u="${med[$n]}" 'BEGIN {print u / 1e6}')"
  done
  rss=$(/usr/bin/time -f %M env LIST="$CORPUS/$w.lst" "$KORRIN" "$OUT/report.txt" 2>&1 >/dev/null | tail -1)
  printf '; korrin peak RSS %s KiB\n' "$rss"
  k=${med[korrin]}
  line="$w: korrin/grep $(ratio "$k" "${med[grep]}") korrin/cat $(ratio "$k" "${med[cat]}") korrin/floor $(ratio "$k" "${med[floor]}") korrin/floor+stat $(ratio "$k" "${med[floor+stat]}")"
  [ "$w" = big ] && line+=" korrin/grep-c $(ratio "$k" "${med[grep-c]}")"
  printf '  %s\n' "$line"
  summary+="$w grep $(ratio "$k" "${med[grep]}") cat $(ratio "$k" "${med[cat]}") floor $(ratio "$k" "${med[floor]}") floor+stat $(ratio "$k" "${med[floor+stat]}") rss ${rss}K; "
  unset times med
done
echo "summary (korrin time / peer time, medians of $ROUNDS): ${summary%; }"
