#!/bin/bash
# Runs every benchmark in one go and prints ratios measured in the same run:
# the headless replay against our floor read loop and against tshark's
# conversation statistics on the same files, peak memory of a replay against
# one of a file twice as long, the lock-hold times of the user-interface
# operations at full bounds, and the per-frame micro-benchmarks.
#
# Usage: bench/run_bench.sh BUILD_DIR [FRAMES]
#   BUILD_DIR holds trafalyn, bench/floor_loop, bench/model_bench and
#   bench/lock_hold_bench; the capture files go to BUILD_DIR/data.
#   FRAMES (default 1000000) is the length of the realistic and scan files;
#   the long file has twice as many.
# Environment: REPEATS (default 3) runs of each timed program, best kept;
#   TSHARK=0 skips tshark.
set -euo pipefail

BUILD=${1:?usage: run_bench.sh BUILD_DIR [FRAMES]}
FRAMES=${2:-1000000}
REPEATS=${REPEATS:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
DATA=$BUILD/data
TRAFALYN=$BUILD/trafalyn
FLOOR=$BUILD/bench/floor_loop
LOCAL=192.0.2.10
mkdir -p "$DATA"

for tool in "$TRAFALYN" "$FLOOR" "$BUILD/bench/model_bench" "$BUILD/bench/lock_hold_bench"; do
  [ -x "$tool" ] || { echo "run_bench: $tool is missing; build it first" >&2; exit 1; }
done

generate() {  # mix frames file
  if [ ! -s "$3" ]; then
    echo "generating $3 ($1, $2 frames)"
    python3 "$HERE/gen_capture.py" --mix "$1" --frames "$2" --seed 1 -o "$3.tmp"
    mv "$3.tmp" "$3"
  fi
}
REAL=$DATA/realistic-$FRAMES.pcap
LONG=$DATA/realistic-$((FRAMES * 2)).pcap
SCAN=$DATA/scan-$FRAMES.pcap
generate realistic "$FRAMES" "$REAL"
generate realistic $((FRAMES * 2)) "$LONG"
generate scan "$FRAMES" "$SCAN"

# Wall-clock seconds and peak RSS (KB) of one command: "SECONDS KB".
measure() {
  local out
  out=$(mktemp)
  /usr/bin/time -f "%e %M" -o "$out" "$@" >/dev/null
  local start_end
  start_end=$(cat "$out")
  rm -f "$out"
  echo "$start_end"
}

# Best of REPEATS, runs of the two programs interleaved so that load from
# elsewhere on the machine hits both alike. Sets BEST_FLOOR, BEST_TRAF,
# RSS_TRAF.
compare() {  # file
  BEST_FLOOR=999999; BEST_TRAF=999999; RSS_TRAF=0
  cat "$1" >/dev/null  # into the page cache
  for _ in $(seq "$REPEATS"); do
    read -r t _ < <(measure "$FLOOR" "$1" "$LOCAL")
    BEST_FLOOR=$(awk -v a="$t" -v b="$BEST_FLOOR" 'BEGIN{print (a<b)?a:b}')
    read -r t rss < <(measure "$TRAFALYN" --headless -r "$1" --local "$LOCAL" --quiet)
    BEST_TRAF=$(awk -v a="$t" -v b="$BEST_TRAF" 'BEGIN{print (a<b)?a:b}')
    RSS_TRAF=$rss
  done
}

fps() { awk -v n="$FRAMES" -v t="$1" 'BEGIN{printf "%.0f", (t>0)?n/t:0}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", (b>0)?a/b:0}'; }

echo
echo "== Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "== Replay throughput ($FRAMES frames per file, best of $REPEATS, wall clock incl. start-up)"
printf "%-10s %12s %12s %12s %10s %10s %12s\n" file floor_fps trafalyn_fps tshark_fps "vs floor" "vs tshark" peak_RSS_KB
for kind in realistic scan; do
  file=$REAL
  [ "$kind" = scan ] && file=$SCAN
  compare "$file"
  tshark_fps=0
  if [ "${TSHARK:-1}" != 0 ] && command -v tshark >/dev/null; then
    read -r t _ < <(measure tshark -q -z conv,tcp -z conv,udp -r "$file")
    tshark_fps=$(fps "$t")
  fi
  f=$(fps "$BEST_FLOOR"); m=$(fps "$BEST_TRAF")
  printf "%-10s %12s %12s %12s %10s %10s %12s\n" "$kind" "$f" "$m" "$tshark_fps" \
    "$(ratio "$m" "$f")" "$(ratio "$m" "$tshark_fps")" "$RSS_TRAF"
done

echo
echo "== Peak memory against file length (realistic mix)"
read -r _ rss1 < <(measure "$TRAFALYN" --headless -r "$REAL" --local "$LOCAL" --quiet)
read -r _ rss2 < <(measure "$TRAFALYN" --headless -r "$LONG" --local "$LOCAL" --quiet)
printf "%s frames: %s KB   %s frames: %s KB   long/short %s\n" "$FRAMES" "$rss1" \
  $((FRAMES * 2)) "$rss2" "$(ratio "$rss2" "$rss1")"

echo
echo "== Traffic lock holds at full bounds"
"$BUILD/bench/lock_hold_bench" 5 || true

echo
echo "== Per-frame micro-benchmarks"
"$BUILD/bench/model_bench" --benchmark_min_time=0.3 2>&1 | grep -v '^\*\*\*WARNING'
