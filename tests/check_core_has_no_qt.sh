#!/bin/sh
# The engine must build and run without Qt; fail when any of its files
# includes a Qt header.
cd "$1" || exit 2
if grep -rEn '#\s*include\s*[<"](Q[A-Za-z]|qt)' wire filters model output settings engine cli; then
  echo "Qt header included by the engine" >&2
  exit 1
fi
exit 0
