#!/bin/bash
# Builds the per-frame micro-benchmarks and the headless program of an
# earlier commit, so that run_bench.sh measures both versions in the same
# run. The commit's tree goes into a git worktree under BUILD_DIR and is
# built there once; later runs reuse it.
#
# Usage: bench/build_baseline.sh BUILD_DIR COMMIT [BENCH_SOURCE]
#   BENCH_SOURCE (optional) replaces the commit's bench/model_bench.cpp, so
#   that both versions run the same benchmarks, the newer ones included.
# Prints the directory that holds bench/model_bench and trafalyn-cli.
set -euo pipefail

BUILD=$(cd "${1:?usage: build_baseline.sh BUILD_DIR COMMIT}" && pwd)
COMMIT=${2:?usage: build_baseline.sh BUILD_DIR COMMIT}
HERE=$(cd "$(dirname "$0")" && pwd)
JOBS=${JOBS:-2}
SHA=$(git -C "$HERE" rev-parse --short "$COMMIT^{commit}")
SRC=$BUILD/baseline-$SHA/src
OUT=$BUILD/baseline-$SHA/build

if [ ! -d "$SRC" ]; then
  git -C "$HERE" worktree add --detach "$SRC" "$SHA" >&2
fi
if [ -n "${3:-}" ] && ! cmp -s "$3" "$SRC/bench/model_bench.cpp"; then
  cp "$3" "$SRC/bench/model_bench.cpp"
fi
if [ ! -f "$OUT/CMakeCache.txt" ]; then
  echo "configuring the baseline $SHA in $OUT" >&2
  cmake -S "$SRC" -B "$OUT" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAFALYN_BUILD_UI=OFF \
    -DTRAFALYN_BUILD_TESTS=OFF -DTRAFALYN_BUILD_BENCH=ON >/dev/null
fi
# Nothing to do after the first time, unless the benchmark source changed.
cmake --build "$OUT" -j"$JOBS" --target model_bench trafalyn-cli >/dev/null
echo "$OUT"
