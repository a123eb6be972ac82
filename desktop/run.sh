#!/bin/sh
# `make run` after the build: the desktop program when there is a display to
# show it on; otherwise a headless replay of the sample capture, so that the
# engine can still be seen working.
# Usage: app/run.sh BUILD_DIR
set -e
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
program="$build_dir/trafalyn"

# Live capture needs CAP_NET_RAW and CAP_NET_ADMIN on $program; naming the
# programs behind the traffic reads other users' /proc/PID/fd
# (CAP_SYS_PTRACE) and loads a small eBPF tracer of short-lived programs
# (CAP_BPF, CAP_PERFMON). All in the permitted set only: the program raises
# each just around the work that needs it. Grant them where that needs no
# password (root, or sudo without one); otherwise say how, and the program
# still starts (it can replay capture files without them).
caps="cap_net_raw,cap_net_admin,cap_sys_ptrace,cap_perfmon,cap_bpf+p"
if command -v getcap >/dev/null 2>&1 && getcap "$program" 2>/dev/null | grep -q cap_bpf; then
  :  # granted before
elif [ "$(id -u)" = 0 ] && command -v setcap >/dev/null 2>&1; then
  setcap "$caps" "$program" || echo "Could not grant the capture permission to $program."
elif command -v setcap >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  sudo -n setcap "$caps" "$program" || echo "Could not grant the capture permission to $program."
else
  echo "To capture live traffic, grant the capture permission once:"
  echo "  sudo setcap $caps $program"
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set)."
echo "Replaying resources/sample.pcap headless instead:"
echo
exec "$program" --headless -r "$source_dir/resources/sample.pcap"
