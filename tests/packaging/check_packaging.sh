#!/bin/bash
# check_packaging.sh CHECK BUILD_DIR SOURCE_DIR
set -euo pipefail
export LC_ALL=C
check=$1 build=$2 source=$3
here=$(dirname "$0") pkg=$source/packaging
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The completion words for a command line whose last word is being typed.
complete_line() {
  bash --norc --noprofile -c '. "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _trafalyn; printf "%s\n" "${COMPREPLY[@]}"' "$pkg/trafalyn.bash-completion" "$@"
}

case $check in
desktop) desktop-file-validate "$pkg/io.ostvane.Trafalyn.desktop" ;;
appstream) appstreamcli validate --no-net "$pkg/io.ostvane.Trafalyn.metainfo.xml" ;;
man)
  for page in "$build"/packaging/*.1; do
    man --warnings -l "$page" 2>"$tmp/warnings" >/dev/null
    if [ -s "$tmp/warnings" ]; then echo "$page:"; cat "$tmp/warnings"; exit 1; fi
  done ;;
install)
  # Each file once, in the component (and so the package) that owns it.
  for component in cli desktop; do
    DESTDIR=$tmp/$component cmake --install "$build" --prefix /usr --component $component >/dev/null
    (cd "$tmp/$component" && find . ! -type d | sed "s|^\./|$component |")
  done | sort | diff -u "$here/installed_files.txt" - ;;
completion)
  # Every option that --help lists is completed and in both manual pages.
  options=$("$build/trafalyn-cli" --help | grep -oE '(^|[][ (|])--?[a-z][a-z-]*' | sed 's/^[][ (|]//' | sort -u)
  offered=$(complete_line trafalyn-cli -)
  for option in $options; do
    grep -qxF -- "$option" <<<"$offered" || { echo "not completed: $option"; exit 1; }
    for page in trafalyn trafalyn-cli; do
      grep -qF -- "${option//-/\\-}" "$build/packaging/$page.1" || { echo "not in $page.1: $option"; exit 1; }
    done
  done
  while IFS='|' read -r words current expected; do
    got=$(complete_line $words "$current" | sort | xargs)
    [ "$got" = "$expected" ] || { echo "$words $current: got '$got', not '$expected'"; exit 1; }
  done <<'CASES'
trafalyn-cli --format||csv hex text
trafalyn --headless --role|s|server
trafalyn -s --headless|--write-l|--write-limit
trafalyn|--he|--headless
trafalyn --ipfix|1|
CASES
  ;;
*) echo "unknown check: $check"; exit 2 ;;
esac
