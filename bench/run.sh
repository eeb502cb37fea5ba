#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times korrin against peer tools and floors, interleaving the commands over
# ROUNDS rounds (default 7), and prints korrin's ratio to each (medians).
#   bench/run.sh          warm page cache: many (and many with --csv), deep,
#                         big, missing, dense, sparse (4 GiB, a hole but for a
#                         block near the end), and the worst cases worst-abc,
#                         worst-w, worst-kk, worst-wg, worst-none
#   COLD=1 bench/run.sh   cold cache: 20 000 files of "many", the caches
#                         dropped before every timed run
#   OLD=path/to/korrin    times that build too, as the peer "old"; several
#                         builds as OLD="name=path name=path" (bench/build-peer.sh
#                         builds a past revision, its buffers aligned as korrin's)
#   WORKLOADS="many deep" only these workloads
# Before timing, it prints where each program's reads land in its buffers
# (strace), and what a read's place costs on this machine: the kernel's copy
# into a destination off a 64-byte boundary is several times slower on some
# processors and a little faster on others, so a peer that is placed
# differently by chance is no peer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${ROUNDS:-7}
SEED=${SEED:-1}
COLD=${COLD:-0}
OLD=${OLD:-}
OUT=build/bench
CORPUS=$OUT/corpus
KORRIN=build/release/korrin
mkdir -p "$OUT"

# Tools the bench needs; installed where this runs as root.
install_if_missing() {  # COMMAND PACKAGE
  command -v "$1" >/dev/null && return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    { apt-get install -y -qq "$2" || { apt-get update -qq; apt-get install -y -qq "$2"; }; } \
      >/dev/null 2>&1 || true
  fi
  command -v "$1" >/dev/null
}
install_if_missing /usr/bin/time time || { echo "bench: /usr/bin/time is needed (apt-get install time)" >&2; exit 1; }
have_rg=1
install_if_missing rg ripgrep || { have_rg=0; echo "bench: ripgrep not installed (apt-get install ripgrep): no rg column" >&2; }
have_strace=1
install_if_missing strace strace || { have_strace=0; echo "bench: strace not installed (apt-get install strace): alignment not checked" >&2; }

cmake -S . -B build/release $(command -v ninja >/dev/null && echo -G Ninja) \
  -DCMAKE_BUILD_TYPE=Release -DKORRIN_TESTS=OFF >/dev/null
cmake --build build/release --target korrin >/dev/null
for tool in make_corpus floor evict copy_alignment; do g++ -O2 -std=c++20 -o "$OUT/$tool" "bench/$tool.cpp"; done

# The builds of korrin timed as peers: "name|path" lines.
olds=()
for word in $OLD; do
  case $word in
    *=*) olds+=("${word%%=*}|${word#*=}") ;;
    *) olds+=("old|$word") ;;
  esac
done

# The big file is 2 GiB, or 1 GiB when the disk is short.
free_mib=$(df -Pm "$OUT" | awk 'NR==2 {print $4}')
BIG_MIB=2048
[ "$free_mib" -gt 8192 ] || BIG_MIB=1024
for w in many deep big missing dense sparse worst; do
  list=$CORPUS/$w.lst
  [ $w = worst ] && list=$CORPUS/worst-wg.lst  # the worst case added last
  # The missing list grew from 10 000 to 100 000 paths; rewrite an old one.
  if [ ! -f "$list" ] || { [ $w = missing ] && [ "$(wc -l <"$list")" -lt 100000 ]; }; then
    echo "writing the $w corpus..." >&2
    "$OUT/make_corpus" "$CORPUS" "$w" "$SEED" "$BIG_MIB"
  fi
done
head -n 20000 "$CORPUS/many.lst" >"$CORPUS/cold.lst"

# Where one program's reads of more than 4 KiB land, on 200 files of "many"
# and on "big": the page offsets of their destinations, and how many are
# not 64-byte aligned.
alignment() {  # NAME COMMAND...
  local name=$1 trace=$OUT/alignment.trace reads=0 misaligned=0 line re offset
  shift
  strace -f -qq -e trace=read,pread64 -e raw=read,pread64 -o "$trace" "$@" >/dev/null 2>&1 || true
  declare -A offsets=()
  re='(read|pread64)\(0x[0-9a-f]+, 0x([0-9a-f]+), 0x([0-9a-f]+)'
  while IFS= read -r line; do
    [[ $line =~ $re ]] || continue
    (( 16#${BASH_REMATCH[3]} > 4096 )) || continue
    offset=$(( 16#${BASH_REMATCH[2]} % 4096 ))
    reads=$((reads + 1))
    (( offset % 64 == 0 )) || misaligned=$((misaligned + 1))
    offsets[$offset]=1
  done <"$trace"
  printf '  %-10s %6d reads of more than 4 KiB, %d not 64-byte aligned; page offsets: %s\n' \
    "$name" "$reads" "$misaligned" "$(printf '%s\n' "${!offsets[@]}" | sort -n | head -8 | paste -sd, -)"
}
if [ $have_strace = 1 ]; then
  head -n 200 "$CORPUS/many.lst" >"$OUT/align.lst"
  cat "$CORPUS/big.lst" >>"$OUT/align.lst"
  echo "alignment of the reads (strace, 200 files of many and big):"
  alignment korrin env LIST="$OUT/align.lst" "$KORRIN" "$OUT/report.txt"
  for o in "${olds[@]}"; do
    alignment "${o%%|*}" env LIST="$OUT/align.lst" "${o#*|}" "$OUT/report.txt"
  done
  alignment floor sh -c "$OUT/floor -1 < $OUT/align.lst"
fi
echo "what a read's place costs here (bench/copy_alignment.cpp, on the big file):"
"$OUT/copy_alignment" "$(cat "$CORPUS/big.lst")"

# Empties the caches before a cold run: all of them as root, else the page
# cache of the listed files.
drop_caches() {  # LIST
  sync
  if ! { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then "$OUT/evict" <"$1"; fi
}
cold_note=""
if [ "$COLD" = 1 ] && ! { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
  cold_note=" (page cache evicted with posix_fadvise; directories and inodes stay cached)"
fi

now() { date +%s%N; }
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# The commands of a workload, as "name|command" lines; korrin first.
commands() {
  local list=$CORPUS/$1.lst limit=-1
  [ "$1" = many ] || [ "$1" = cold ] && limit=10240  # the first chunk and a window
  echo "korrin|LIST=$list $KORRIN $OUT/report.txt >/dev/null"
  # The records in place of the report cost what the report costs.
  if [ "$1" = many ]; then echo "korrin-csv|LIST=$list $KORRIN $OUT/report.csv --csv >/dev/null"; fi
  for o in "${olds[@]}"; do echo "${o%%|*}|LIST=$list ${o#*|} $OUT/report.txt >/dev/null"; done
  if [ "$1" = sparse ]; then  # a reader that reads the holes reads 4 GiB of zeros
    echo "grep|grep -F -c -- WORKING \$(cat $list) >$OUT/count.txt 2>&1 || true"
    return
  fi
  case $1 in
    dense | worst-*)
      # Counting every match; into a file, since grep stops at the first
      # match of each file when its output is /dev/null.
      echo "grep|xargs -d '\n' -a $list grep -F -c -- WORKING >$OUT/count.txt 2>&1 || true" ;;
    *) echo "grep|xargs -d '\n' -a $list grep -F -l -- WORKING >/dev/null 2>&1 || true" ;;
  esac
  if [ $have_rg = 1 ]; then
    case $1 in
      big | dense | worst-*) echo "rg|rg --no-config -F -c WORKING \$(cat $list) >$OUT/count.txt 2>&1 || true" ;;
      *) echo "rg|xargs -d '\n' -a $list rg --no-config -F -l -- WORKING >/dev/null 2>&1 || true" ;;
    esac
  fi
  case $1 in
    cold) echo "cat-P16|xargs -d '\n' -P16 -n 64 -a $list cat >/dev/null 2>&1 || true" ;;
    *) echo "cat|xargs -d '\n' -a $list cat >/dev/null 2>&1 || true" ;;
  esac
  echo "floor|$OUT/floor $limit < $list >/dev/null"
  echo "floor+stat|$OUT/floor $limit stat < $list >/dev/null"
  case $1 in big | deep | dense | worst-*) echo "floor-map|$OUT/floor -1 map < $list >/dev/null" ;; esac
}

workloads=${WORKLOADS:-"many deep big missing dense sparse worst-abc worst-w worst-kk worst-wg worst-none"}
[ "$COLD" = 1 ] && workloads="cold"
summary=""
declare -A korrin_median=()
for w in $workloads; do
  mapfile -t cmds < <(commands "$w")
  declare -A times=()
  [ "$COLD" = 1 ] || for c in "${cmds[@]}"; do eval "${c#*|}"; done  # warm-up, untimed
  for ((r = 0; r < ROUNDS; r++)); do
    for c in "${cmds[@]}"; do
      [ "$COLD" = 1 ] && drop_caches "$CORPUS/$w.lst"
      t0=$(now); eval "${c#*|}"; t1=$(now)
      times[${c%%|*}]+="$(( (t1 - t0) / 1000 )) "
    done
  done
  declare -A med=()
  printf '%-11s' "$w:"
  for c in "${cmds[@]}"; do
    n=${c%%|*}
    med[$n]=$(tr ' ' '\n' <<<"${times[$n]}" | grep . | median)
    printf ' %s %.3f s' "$n" "$(awk -v u="${med[$n]}" 'BEGIN {print u / 1e6}')"
  done
  korrin_median[$w]=${med[korrin]}
  peak_rss() {  # PROGRAM
    [ "$COLD" = 1 ] && drop_caches "$CORPUS/$w.lst"
    /usr/bin/time -f %M env LIST="$CORPUS/$w.lst" "$1" "$OUT/report.txt" 2>&1 >/dev/null | tail -1
  }
  rss=$(peak_rss "$KORRIN")
  printf '; korrin peak RSS %s KiB' "$rss"
  for o in "${olds[@]}"; do printf ', %s %s KiB' "${o%%|*}" "$(peak_rss "${o#*|}")"; done
  printf '\n'
  line="$w:"
  for c in "${cmds[@]:1}"; do
    n=${c%%|*}
    line+=" korrin/$n $(ratio "${med[korrin]}" "${med[$n]}")"
  done
  printf '  %s\n' "$line"
  if [ -n "${med[korrin-csv]:-}" ]; then
    line+=" korrin-csv/korrin $(ratio "${med[korrin-csv]}" "${med[korrin]}")"
    printf '  %s: korrin-csv/korrin %s\n' "$w" "$(ratio "${med[korrin-csv]}" "${med[korrin]}")"
  fi
  summary+="${line} rss ${rss}K; "
  unset times med
done
# The worst cases against the same bytes without a marker.
if [ -n "${korrin_median[worst-none]:-}" ]; then
  for w in worst-abc worst-w worst-kk worst-wg; do
    [ -n "${korrin_median[$w]:-}" ] &&
      echo "$w: korrin/korrin-on-worst-none $(ratio "${korrin_median[$w]}" "${korrin_median[worst-none]}")"
  done
fi
echo "summary (korrin time / peer time, medians of $ROUNDS${cold_note}): ${summary%; }"
