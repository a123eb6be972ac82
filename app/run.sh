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

# Live capture needs CAP_NET_RAW and CAP_NET_ADMIN on $program; the step that
# grants them goes here, before the program starts.

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set)."
echo "Replaying resources/sample.pcap headless instead:"
echo
exec "$program" --headless -r "$source_dir/resources/sample.pcap"
