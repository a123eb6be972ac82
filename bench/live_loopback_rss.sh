#!/bin/bash
# Peak resident memory of a live trace on lo during a bulk TCP transfer:
# runs PROGRAM --headless -i lo --duration SECONDS in a network namespace
# of its own, beside bench/bulk_sender.py, and reports /usr/bin/time -v's
# maximum resident set size with the summary's counts. Nothing leaves the
# namespace: its lo is the only interface, and the sender talks to
# 127.0.0.1 only.
#
# Usage: bench/live_loopback_rss.sh PROGRAM [SECONDS] [OPTIONS...]
#   PROGRAM is trafalyn or trafalyn-cli; OPTIONS go to it (--memory-limit 256).
# Environment: AS_CAP_MB caps the program's address space (ulimit -v), for a
#   build without a memory limit that would otherwise take the machine down;
#   CLIENTS (default 4) parallel transfers.
# Needs root (ip netns, capture on lo). Not part of `make bench`, which needs
# no privileges; bench/RESULTS.md holds its latest figures.
set -euo pipefail

PROGRAM=$(realpath "${1:?usage: live_loopback_rss.sh PROGRAM [SECONDS] [OPTIONS...]}")
SECONDS_TO_RUN=${2:-60}
shift $(( $# >= 2 ? 2 : 1 ))
HERE=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" = 0 ] || { echo "live_loopback_rss: needs root for ip netns" >&2; exit 77; }

NS=trafalyn-rss-$$
OUT=$(mktemp -d)
SENDER=
cleanup() {
  [ -n "$SENDER" ] && kill "$SENDER" 2>/dev/null || true
  ip netns del "$NS" 2>/dev/null || true
  rm -rf "$OUT"
}
trap cleanup EXIT
ip netns add "$NS"
ip netns exec "$NS" ip link set lo up

ip netns exec "$NS" python3 "$HERE/bulk_sender.py" --seconds $((SECONDS_TO_RUN + 3)) \
  --clients "${CLIENTS:-4}" >"$OUT/sender" 2>&1 &
SENDER=$!
sleep 1

cap=""
[ -n "${AS_CAP_MB:-}" ] && cap="ulimit -v $((AS_CAP_MB * 1024));"
status=0
ip netns exec "$NS" bash -c "$cap exec /usr/bin/time -v -o '$OUT/time' '$PROGRAM' --headless -i lo \
  --duration '$SECONDS_TO_RUN' $*" >"$OUT/summary" 2>"$OUT/stderr" || status=$?
wait "$SENDER" || true
SENDER=

echo "program: $PROGRAM $*${AS_CAP_MB:+ (address space capped at $AS_CAP_MB MB)}"
echo "exit status: $status"
grep -E "^(Frames|Kernel|Payload|Packets)" "$OUT/summary" || true
grep -E "Maximum resident set size|Elapsed \(wall" "$OUT/time" | sed 's/^\s*//'
cat "$OUT/sender"
grep -v "running as root" "$OUT/stderr" | head -5 || true
