# Shared by the Wine tests of KELVRA.EXE: a private prefix, a private X
# display, and the helpers the scripts use. Sourced with the build's
# KELVRA.EXE, the test driver and a work directory as $1..$3.
set -euo pipefail

product=$1
driver=$2
work=$3
mkdir -p "$work"

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$repo/scripts/wine-env.sh"
wine=$KELVRA_WINE64

# The build's shared prefix is made once (slow) by wine-run.sh; these tests
# delete keys and Start menu entries, so they work in a copy of their own.
# Files are hard-linked, the registry is copied: Wine replaces, never edits,
# the files it shares with the original.
prefix=$work/wineprefix
if [ ! -f "$prefix/system.reg" ]; then
  "$repo/scripts/wine-run.sh" "$driver" count >/dev/null
  build=$(cd "$(dirname "$driver")" && pwd)
  while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
  base=${KELVRA_WINEPREFIX:-$build/wineprefix}
  rm -rf "$prefix.new"
  cp -al "$base" "$prefix.new" 2>/dev/null || { rm -rf "$prefix.new"; cp -a "$base" "$prefix.new"; }
  for reg in "$prefix.new"/*.reg; do cp --remove-destination "$base/$(basename "$reg")" "$reg"; done
  mv "$prefix.new" "$prefix"
fi
export WINEPREFIX=$prefix
# A run cut short may have left a cleanup helper's directory behind.
rm -rf "$prefix"/drive_c/windows/temp/Kelvra-*

# Our own X server.
kelvra_x_display 1024x768

finish() {
  "$KELVRA_WINESERVER" -k >/dev/null 2>&1 || true
  kill "$KELVRA_XVFB" 2>/dev/null || true
}
trap finish EXIT

# The setup dialog's caption, which resources/setup.rc makes from version.h.
version_text() { sed -n "s/^#define $1 \"\(.*\)\"$/\1/p" "$repo/resources/version.h"; }
setup_title="$(version_text KELVRA_PRODUCT_NAME) $(version_text KELVRA_DISPLAY_VERSION) Setup"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

drive() {
  timeout 120 "$wine" "$driver" "$@" | tr -d '\r'
}

# expect <what> <expected> <actual>
expect() {
  if [ "$2" != "$3" ]; then
    printf 'expected %s:\n%s\ngot:\n%s\n' "$1" "$2" "$3" >&2
    fail "$1"
  fi
  echo "ok: $1"
}

# uninstall_yes <program> <expected closing message> [exit code]: runs
# "<program> /UNINSTALL", answers Yes and checks the one message that reports
# the outcome, and the exit code (0 unless said: 1 means not all was removed).
uninstall_yes() {
  timeout 120 "$wine" "$1" /UNINSTALL &
  local uninstaller=$! code=0
  expect "question" "Remove Kelvra and its Start menu shortcuts?" "$(drive answer yes 60000)"
  expect "outcome" "$2" "$(drive answer ok 60000)"
  wait "$uninstaller" || code=$?
  expect "uninstaller's exit code" "${3:-0}" "$code"
}

# settled_state: the state of $dir once the cleanup helper has deleted the
# program after the uninstaller exited (waits a bounded while).
settled_state() {
  local state
  for _ in $(seq 60); do
    state=$(drive state "$dir")
    grep -q '^KELVRA.EXE absent' <<<"$state" && grep -q '^cleanup helper absent' <<<"$state" && break
    sleep 0.5
  done
  echo "$state"
}
