#!/bin/sh
# Runs one fuzz target for a fixed time on a scratch copy of its seed corpus,
# so that inputs it finds never land in the source tree. A crash leaves its
# input in the current directory and fails the test.
# Usage: run_fuzz.sh TARGET SEED_DIR SECONDS
set -e
target=$1 seeds=$2 seconds=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$seeds"/* "$work"/ 2>/dev/null || true
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
  -print_final_stats=1 "$work"
