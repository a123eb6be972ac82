#!/bin/bash
# How many of N short-lived clients get their program's name, with and
# without the kernel tracer: a network namespace of its own with
# 198.51.100.1 on its loopback, a python http.server there, and
# bench/process_naming_measure running N curls against it, capturing on the
# namespace's loopback. Needs root (namespaces, capture, the tracer).
#
# Usage: bench/process_naming.sh BUILD_DIR [CLIENTS]
set -euo pipefail

BUILD=${1:?usage: process_naming.sh BUILD_DIR [CLIENTS]}
CLIENTS=${2:-200}
MEASURE=$BUILD/bench/process_naming_measure
NS=trafalyn-naming-$$
ADDR=198.51.100.1
PORT=8000
[ -x "$MEASURE" ] || { echo "process_naming: $MEASURE is missing; build it first" >&2; exit 1; }

SERVER=""
cleanup() {
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null || true
  ip netns delete "$NS" 2>/dev/null || true
}
trap cleanup EXIT

ip netns add "$NS"
ip -n "$NS" link set lo up
ip -n "$NS" addr add $ADDR/24 dev lo
SERVE_DIR=$(mktemp -d)
ip netns exec "$NS" python3 -m http.server $PORT --bind $ADDR --directory "$SERVE_DIR" \
  >/dev/null 2>&1 &
SERVER=$!
for _ in $(seq 50); do
  ip netns exec "$NS" curl -s -o /dev/null "http://$ADDR:$PORT/" && break
  sleep 0.1
done

echo "== with the kernel tracer"
ip netns exec "$NS" "$MEASURE" lo $ADDR $PORT "$CLIENTS" 41000
echo "== without it (socket table and /proc only)"
ip netns exec "$NS" "$MEASURE" lo $ADDR $PORT "$CLIENTS" 42000 --no-tracer
echo "== both again, packets delivered as a live trace gets them (1 s buffer time-out)"
ip netns exec "$NS" "$MEASURE" lo $ADDR $PORT "$CLIENTS" 43000 --buffered
ip netns exec "$NS" "$MEASURE" lo $ADDR $PORT "$CLIENTS" 44000 --no-tracer --buffered
rmdir "$SERVE_DIR"
