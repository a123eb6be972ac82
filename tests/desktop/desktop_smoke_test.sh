#!/bin/sh
# Starts the real desktop program on a virtual X display, lets it run a few
# seconds, ends it with SIGTERM and expects the clean close: exit status 0,
# the statistics log made by the final log pass of the close handling, and
# the settings file left as it was, since nothing was changed.
# Usage: desktop_smoke_test.sh <trafalyn binary>
set -u
bin=$1
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run is not installed; skipping"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
settings="$dir/trafalyn.ini"
printf '; by hand\n[General]\nAutoLog=1\nLogDir=%s\n' "$dir" >"$settings"
cp "$settings" "$dir/before.ini"

xvfb-run -a -s '-screen 0 1280x900x24' sh -c '
  "$1" --settings "$2" >"$3/out" 2>&1 &
  echo $! >"$3/pid"
  wait $!
  echo $? >"$3/rc"' smoke "$bin" "$settings" "$dir" &
runner=$!

# Give it time to start, show the window and run a few worker cycles.
i=0
while [ ! -s "$dir/pid" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
sleep 3
pid=$(cat "$dir/pid" 2>/dev/null || true)
if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
  echo "the program is not running after 3 seconds"
  cat "$dir/out" 2>/dev/null
  exit 1
fi
kill -TERM "$pid"
wait "$runner"
rc=$(cat "$dir/rc" 2>/dev/null || echo missing)
cat "$dir/out"
if [ "$rc" != 0 ]; then
  echo "exit status $rc, expected 0"
  exit 1
fi
if ! ls "$dir"/stats*.txt >/dev/null 2>&1; then
  echo "the close handling did not run (no statistics log in $dir)"
  exit 1
fi
if ! cmp -s "$settings" "$dir/before.ini"; then
  echo "the settings file was rewritten although nothing changed"
  exit 1
fi
echo "clean exit"
