#!/bin/bash
# Runs every benchmark in one go and prints ratios measured in the same run:
# the headless replay against our floor read loop, against the same replay
# by the baseline commit's program and against tshark's conversation
# statistics on the same files, peak memory of a replay against one of a
# file twice as long, peak memory of a replay of 64,000-byte segments under
# the memory limit against the same replay keeping no payload, the
# lock-hold times of the user-interface operations at full bounds, and the
# per-frame micro-benchmarks, each beside the baseline's.
#
# Usage: bench/run_bench.sh BUILD_DIR [FRAMES]
#   BUILD_DIR holds trafalyn-cli, bench/floor_loop, bench/model_bench and
#   bench/lock_hold_bench; the capture files go to BUILD_DIR/data.
#   FRAMES (default 1000000) is the length of the realistic and scan files;
#   the long file has twice as many.
# Environment: REPEATS (default 3) runs of each timed program, best kept;
#   TSHARK=0 skips tshark; BULK_FRAMES (default 8000) frames of 64,000-byte
#   segments, BULK_LIMIT (default 64) the memory limit in MiB for them;
#   BASELINE (default 8b74c40) the commit measured beside this tree, built
#   once into BUILD_DIR by bench/build_baseline.sh with this tree's
#   micro-benchmark source; BASELINE= (empty) skips it.
set -euo pipefail

BUILD=${1:?usage: run_bench.sh BUILD_DIR [FRAMES]}
FRAMES=${2:-1000000}
REPEATS=${REPEATS:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
DATA=$BUILD/data
TRAFALYN=$BUILD/trafalyn-cli
FLOOR=$BUILD/bench/floor_loop
BASELINE=${BASELINE-8b74c40}
LOCAL=192.0.2.10
mkdir -p "$DATA"

for tool in "$TRAFALYN" "$FLOOR" "$BUILD/bench/model_bench" "$BUILD/bench/lock_hold_bench" \
            "$BUILD/bench/flow_export_bench"; do
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
BULK_FRAMES=${BULK_FRAMES:-8000}
BULK_LIMIT=${BULK_LIMIT:-64}
BULK=$DATA/bulk-$BULK_FRAMES.pcap
generate realistic "$FRAMES" "$REAL"
generate realistic $((FRAMES * 2)) "$LONG"
generate scan "$FRAMES" "$SCAN"
generate bulk "$BULK_FRAMES" "$BULK"

BASE_TRAFALYN=
BASE_MODEL=
if [ -n "$BASELINE" ]; then
  base_dir=$("$HERE/build_baseline.sh" "$BUILD" "$BASELINE" "$HERE/model_bench.cpp")
  BASE_TRAFALYN=$base_dir/trafalyn-cli
  BASE_MODEL=$base_dir/bench/model_bench
fi

# One run of a command: "WALL_SECONDS PEAK_RSS_KB CPU_SECONDS" (CPU = user +
# system). The CPU time says more than the wall clock when other work
# shares the machine; both are reported.
measure() {
  local out
  out=$(mktemp)
  /usr/bin/time -f "%e %M %U %S" -o "$out" "$@" >/dev/null 2>&1
  awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$out"
  rm -f "$out"
}

min() { awk -v a="$1" -v b="$2" 'BEGIN{print (a<b)?a:b}'; }

# Best of REPEATS, runs of the programs interleaved so that load from
# elsewhere on the machine hits them alike. Sets FLOOR_WALL, FLOOR_CPU,
# TRAF_WALL, TRAF_CPU, TRAF_RSS, BASE_WALL and BASE_CPU (999999 without a
# baseline).
compare() {  # file
  FLOOR_WALL=999999; FLOOR_CPU=999999; TRAF_WALL=999999; TRAF_CPU=999999; TRAF_RSS=0
  BASE_WALL=999999; BASE_CPU=999999
  cat "$1" >/dev/null  # into the page cache
  for _ in $(seq "$REPEATS"); do
    read -r t _ c < <(measure "$FLOOR" "$1" "$LOCAL")
    FLOOR_WALL=$(min "$t" "$FLOOR_WALL"); FLOOR_CPU=$(min "$c" "$FLOOR_CPU")
    read -r t rss c < <(measure "$TRAFALYN" --headless -r "$1" --quiet)
    TRAF_WALL=$(min "$t" "$TRAF_WALL"); TRAF_CPU=$(min "$c" "$TRAF_CPU"); TRAF_RSS=$rss
    if [ -n "$BASE_TRAFALYN" ]; then
      read -r t _ c < <(measure "$BASE_TRAFALYN" --headless -r "$1" --quiet)
      BASE_WALL=$(min "$t" "$BASE_WALL"); BASE_CPU=$(min "$c" "$BASE_CPU")
    fi
  done
}

fps() { awk -v n="$FRAMES" -v t="$1" 'BEGIN{printf "%.0f", (t>0 && t<999999)?n/t:0}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", (b>0)?a/b:0}'; }

echo
echo "== Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "== Replay throughput: $FRAMES frames per file, frames per second of the whole process"
echo "   (start-up included), best of $REPEATS; 'cpu' rows divide by user + system time"
echo "   trafalyn: trafalyn-cli --headless -r FILE --quiet (full model, payload kept, no logs);"
echo "   baseline: the same program built from ${BASELINE:-(none)}"
printf "%-10s %-5s %12s %12s %12s %12s %9s %9s %9s %11s\n" file clock floor trafalyn baseline tshark \
  "/floor" "/baseline" "/tshark" "RSS_KB"
for kind in realistic scan; do
  file=$REAL
  [ "$kind" = scan ] && file=$SCAN
  compare "$file"
  tshark_wall=0; tshark_cpu=0
  if [ "${TSHARK:-1}" != 0 ] && command -v tshark >/dev/null; then
    read -r tshark_wall _ tshark_cpu < <(measure tshark -q -z conv,tcp -z conv,udp -r "$file")
  fi
  for clock in wall cpu; do
    if [ $clock = wall ]; then a=$FLOOR_WALL; b=$TRAF_WALL; c=$tshark_wall; d=$BASE_WALL
    else a=$FLOOR_CPU; b=$TRAF_CPU; c=$tshark_cpu; d=$BASE_CPU; fi
    f=$(fps "$a"); m=$(fps "$b"); t=$(fps "$c"); o=$(fps "$d")
    printf "%-10s %-5s %12s %12s %12s %12s %9s %9s %9s %11s\n" "$kind" $clock "$f" "$m" "$o" "$t" \
      "$(ratio "$m" "$f")" "$(ratio "$m" "$o")" "$(ratio "$m" "$t")" "$TRAF_RSS"
  done
done

echo
echo "== Peak memory against file length (realistic mix)"
read -r _ rss1 _ < <(measure "$TRAFALYN" --headless -r "$REAL" --quiet)
read -r _ rss2 _ < <(measure "$TRAFALYN" --headless -r "$LONG" --quiet)
printf "%s frames: %s KB   %s frames: %s KB   long/short %s\n" "$FRAMES" "$rss1" \
  $((FRAMES * 2)) "$rss2" "$(ratio "$rss2" "$rss1")"

echo
echo "== Peak memory of a replay of 64,000-byte segments (bulk mix, $BULK_FRAMES frames," \
  "$(( $(stat -c %s "$BULK") >> 20 )) MiB)"
echo "   reference: the same replay keeping no payload (--header-only); --local given, so"
echo "   that no run holds the local-address guess's look ahead"
bulk() { measure "$TRAFALYN" --headless -r "$BULK" --local "$LOCAL" --quiet "$@"; }
read -r _ rss_ref _ < <(bulk --header-only)
read -r _ rss_lim _ < <(bulk --memory-limit "$BULK_LIMIT")
read -r _ rss_all _ < <(bulk --memory-limit 1048576)
printf "%-36s %10s KB\n" "reference (--header-only)" "$rss_ref" \
  "--memory-limit $BULK_LIMIT" "$rss_lim" "--memory-limit 1048576 (not reached)" "$rss_all"
awk -v r="$rss_ref" -v l="$rss_lim" -v b="$BULK_LIMIT" 'BEGIN{
  printf "above the reference with the limit: %d KB = %.2f x the limit of %d MiB\n", l - r, (l - r) / (b * 1024), b }'

echo
echo "== Traffic lock holds at full bounds"
"$BUILD/bench/lock_hold_bench" 5 || true

echo
echo "== Per-frame micro-benchmarks"
"$BUILD/bench/model_bench" --benchmark_min_time=0.3 2>&1 | grep -v '^\*\*\*WARNING'

if [ -n "$BASE_MODEL" ]; then
  echo
  echo "== Per-frame CPU time against the baseline ($BASELINE), the same benchmark source,"
  echo "   runs interleaved, best of $REPEATS"
  PER_FRAME='InOrderTcpData|DecodeAndRecord'
  best=$(mktemp)
  for _ in $(seq "$REPEATS"); do
    for side in now baseline; do
      bin=$BUILD/bench/model_bench
      [ $side = baseline ] && bin=$BASE_MODEL
      "$bin" --benchmark_filter="$PER_FRAME" --benchmark_min_time=0.3 --benchmark_format=csv 2>/dev/null |
        awk -F, -v side=$side 'NR>1{gsub(/"/, "", $1); print side, $1, $4}'
    done
  done >"$best"
  printf "%-46s %12s %12s %10s\n" benchmark "baseline ns" "now ns" "now/base"
  awk '{k=$2; if(!((k,$1) in m) || $3<m[k,$1]) m[k,$1]=$3; seen[k]=1}
       END{for(k in seen) printf "%-46s %12.0f %12.0f %10.2f\n", k, m[k,"baseline"], m[k,"now"], m[k,"now"]/m[k,"baseline"]}' \
    "$best" | sort
  rm -f "$best"
fi

echo
echo "== Naming programs: a live trace's decode-and-record path against a replay's"
echo "   (BM_DecodeAndRecord/1 against /0, CPU time, median of 5, runs interleaved)"
decode_ns() {  # arg
  "$BUILD/bench/model_bench" --benchmark_filter="BM_DecodeAndRecord/$1\$" --benchmark_min_time=0.3 \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
    awk -F, '/_median/ {print $4}'
}
replay_ns=999999; live_ns=999999
for _ in $(seq "$REPEATS"); do
  replay_ns=$(min "$(decode_ns 0)" "$replay_ns")
  live_ns=$(min "$(decode_ns 1)" "$live_ns")
done
awk -v r="$replay_ns" -v l="$live_ns" 'BEGIN{
  printf "replay %.0f ns/frame   live %.0f ns/frame   attribution %+.0f ns/frame   live/replay %.3f\n", r, l, l - r, l / r }'

echo
echo "== Flow export per finished conversation (enqueue, encode, beside a snapshot copy)"
"$BUILD/bench/flow_export_bench" --benchmark_min_time=0.3 2>&1 | grep -v '^\*\*\*WARNING'

if [ "$(id -u)" = 0 ] && [ -x "$BUILD/bench/process_naming_measure" ]; then
  echo
  echo "== Short-lived clients named, with and without the kernel tracer (200 curls on loopback)"
  "$HERE/process_naming.sh" "$BUILD" 200 || echo "process naming: could not run here"
fi
