#!/bin/bash
# Live capture under a flood: two network namespaces joined by a veth pair
# (198.51.100.1 sends, 198.51.100.2 receives), bench/flood_sender floods
# for FLOOD_SECONDS at each of several fixed rates, and on the receiving
# end first `trafalyn-cli --headless -i` and then tcpdump (same kernel
# buffer, writing to /dev/null) trace the same flood. On the receiving end a
# socket that is never read holds the port, so that the kernel drops the
# datagrams there, after the capture sockets saw them, and sends no
# "port unreachable" back into the counts.
#
# Prints one row per rate and frame size: frames sent, what trafalyn read,
# recorded and lost in the kernel, what tcpdump wrote and lost, and the
# highest rate each took with under 0.1% kernel drops. Needs root; skipped
# with a message otherwise.
#
# Usage: bench/live_flood.sh BUILD_DIR
#   BUILD_DIR holds trafalyn-cli and bench/flood_sender.
# Environment: FLOOD_SECONDS (default 10); RATES (frames per second, "max"
#   for as fast as one sender goes), SIZES (frame bytes or "mix").
set -uo pipefail

BUILD=${1:?usage: live_flood.sh BUILD_DIR}
SECONDS_EACH=${FLOOD_SECONDS:-10}
RATES=${RATES:-"100000 300000 max"}
SIZES=${SIZES:-"512 mix"}
TRAFALYN=$BUILD/trafalyn-cli
SENDER=$BUILD/bench/flood_sender
# trafalyn's kernel buffer (CCaptureController::kBufferBytes), in KiB for tcpdump.
BUFFER_KIB=32768
NS_TX=tfl-flood-tx-$$
NS_RX=tfl-flood-rx-$$
PORT=9

if [ "$(id -u)" != 0 ]; then
  echo "live flood: skipped (needs root for its network namespaces)"
  exit 0
fi
for tool in "$TRAFALYN" "$SENDER"; do
  [ -x "$tool" ] || { echo "live flood: $tool is missing; build it first" >&2; exit 1; }
done
for tool in ip tcpdump python3; do
  command -v $tool >/dev/null || { echo "live flood: skipped ($tool is not installed)"; exit 0; }
done

SINK=
cleanup() {
  [ -n "$SINK" ] && kill "$SINK" 2>/dev/null
  ip netns del "$NS_TX" 2>/dev/null
  ip netns del "$NS_RX" 2>/dev/null
}
trap cleanup EXIT INT TERM

set -e
ip netns add "$NS_TX"
ip netns add "$NS_RX"
ip link add tfl-tx netns "$NS_TX" type veth peer name tfl-rx netns "$NS_RX"
ip -n "$NS_TX" addr add 198.51.100.1/24 dev tfl-tx
ip -n "$NS_RX" addr add 198.51.100.2/24 dev tfl-rx
ip -n "$NS_TX" link set tfl-tx up
ip -n "$NS_RX" link set tfl-rx up
ip -n "$NS_TX" link set lo up
ip -n "$NS_RX" link set lo up
# Static neighbours: no address resolution frames in the counts.
ip -n "$NS_TX" neigh add 198.51.100.2 lladdr "$(ip -n "$NS_RX" -br link show tfl-rx | awk '{print $3}')" dev tfl-tx
set +e
ip netns exec "$NS_RX" python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.bind(("198.51.100.2", '$PORT'))
time.sleep(1e6)' &
SINK=$!

# flood RATE SIZE SENDERS: runs the senders in the sending namespace and
# prints the frames they sent in all.
flood() {
  local rate=$1 size=$2 senders=$3 each=0 out total=0
  [ "$rate" != max ] && each=$((rate / senders))
  local pids=() files=()
  for i in $(seq "$senders"); do
    out=$(mktemp)
    files+=("$out")
    ip netns exec "$NS_TX" "$SENDER" 198.51.100.2 $PORT "$each" "$SECONDS_EACH" "$size" >"$out" &
    pids+=($!)
  done
  wait "${pids[@]}"
  for out in "${files[@]}"; do
    total=$((total + $(awk '/^sent/{print $2}' "$out")))
    rm -f "$out"
  done
  echo "$total"
}

# The CPU seconds (user + system, all threads) process PID has used so far.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat" 2>/dev/null || echo 0
}

# Sets TRAF_READ, TRAF_RECORDED, TRAF_DROPPED, TRAF_CPU and SENT.
with_trafalyn() {
  local out
  out=$(mktemp)
  ip netns exec "$NS_RX" "$TRAFALYN" --headless -i tfl-rx --no-resolve >"$out" 2>&1 &
  local pid=$!
  sleep 1.5
  SENT=$(flood "$1" "$2" "$3")
  sleep 1
  TRAF_CPU=$(cpu_seconds "$pid")
  kill -INT "$pid"
  wait "$pid"
  TRAF_READ=$(awk -F': ' '/^Frames read/{gsub(/[^0-9]/, "", $2); print $2}' "$out")
  TRAF_RECORDED=$(awk -F': ' '/^Frames recorded/{gsub(/[^0-9]/, "", $2); print $2}' "$out")
  TRAF_DROPPED=$(awk -F': ' '/^Kernel drops/{gsub(/[^0-9]/, "", $2); print $2}' "$out")
  rm -f "$out"
}

# Sets DUMP_WRITTEN, DUMP_DROPPED, DUMP_CPU and SENT.
with_tcpdump() {
  local out
  out=$(mktemp)
  ip netns exec "$NS_RX" tcpdump -i tfl-rx -n -w /dev/null -B "$BUFFER_KIB" 2>"$out" &
  local pid=$!
  sleep 1.5
  SENT=$(flood "$1" "$2" "$3")
  sleep 1
  DUMP_CPU=$(cpu_seconds "$pid")
  kill -INT "$pid"
  wait "$pid"
  DUMP_WRITTEN=$(awk '/packets captured/{print $1}' "$out")
  DUMP_DROPPED=$(awk '/dropped by kernel/{print $1}' "$out")
  rm -f "$out"
}

pct() { awk -v d="${1:-0}" -v n="${2:-0}" 'BEGIN{printf "%.3f", (n>0)?100*d/n:0}'; }
load() { awk -v c="${1:-0}" -v s="$SECONDS_EACH" 'BEGIN{printf "%.0f%%", 100*c/s}'; }

echo "== Live flood over a veth pair: $SECONDS_EACH s per row, kernel buffer $BUFFER_KIB KiB both"
echo "   t.: trafalyn-cli --headless -i, then d.: tcpdump -w /dev/null -B $BUFFER_KIB, each on its"
echo "   own flood (sent: frames of the two floods); cpu: the receiver's CPU time over the flood time"
printf "%-5s %-7s %-2s %17s | %8s %8s %6s %6s %5s | %8s %6s %6s %5s\n" size rate tx sent \
  "t.read" "t.record" "t.drop" "drop%" "cpu" "d.write" "d.drop" "drop%" "cpu"
declare -A BEST_T BEST_D
row() {  # size rate senders
  with_trafalyn "$2" "$1" "$3"; local sent_t=$SENT
  with_tcpdump "$2" "$1" "$3"; local sent_d=$SENT
  local tp dp
  tp=$(pct "$TRAF_DROPPED" "$((TRAF_READ + TRAF_DROPPED))")
  dp=$(pct "$DUMP_DROPPED" "$((DUMP_WRITTEN + DUMP_DROPPED))")
  printf "%-5s %-7s %-2s %17s | %8s %8s %6s %6s %5s | %8s %6s %6s %5s\n" "$1" "$2" "$3" \
    "$sent_t/$sent_d" "$TRAF_READ" "$TRAF_RECORDED" "$TRAF_DROPPED" "$tp" "$(load "$TRAF_CPU")" \
    "$DUMP_WRITTEN" "$DUMP_DROPPED" "$dp" "$(load "$DUMP_CPU")"
  local fps_t=$((sent_t / SECONDS_EACH)) fps_d=$((sent_d / SECONDS_EACH))
  if awk -v p="$tp" 'BEGIN{exit !(p < 0.1)}' && [ "$fps_t" -gt "${BEST_T[$1]:-0}" ]; then
    BEST_T[$1]=$fps_t
  fi
  if awk -v p="$dp" 'BEGIN{exit !(p < 0.1)}' && [ "$fps_d" -gt "${BEST_D[$1]:-0}" ]; then
    BEST_D[$1]=$fps_d
  fi
}
for size in $SIZES; do
  for rate in $RATES; do row "$size" "$rate" 1; done
done
# Two senders with the smallest frames push past what one core sends.
row 64 max 2

echo "highest rate (frames/s actually sent) with under 0.1% kernel drops:"
for size in $SIZES 64; do
  printf "  %-6s trafalyn %10s   tcpdump %10s\n" "$size" "${BEST_T[$size]:-none}" "${BEST_D[$size]:-none}"
done
