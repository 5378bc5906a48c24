#!/usr/bin/env bash
# The Wine environment of every script and test in this tree, in one place:
# Wine stays quiet, never touches the host's menus or file associations,
# never offers to download its .NET or HTML runtimes, and runs only in
# private prefixes that these functions make.
#
# Shell scripts source it:
#   source scripts/wine-env.sh
# which exports WINEDEBUG (-all unless already set, so a person can ask for
# traces) and WINEDLLOVERRIDES, sets KELVRA_WINE64, KELVRA_WINE32 and
# KELVRA_WINESERVER, and defines kelvra_wine_for, kelvra_wine_prefix and
# kelvra_x_display.
# Programs in other languages run it:
#   bash scripts/wine-env.sh env          the values above, NAME=value a line
#   bash scripts/wine-env.sh prefix DIR   kelvra_wine_prefix DIR

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
KELVRA_WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
# The 32-bit loader itself: the `wine` wrapper falls back to 64-bit Wine,
# which cannot start a PE32 file, when 32-bit Wine is missing.
KELVRA_WINE32=/usr/lib/wine/wine
[ -x "$KELVRA_WINE32" ] || KELVRA_WINE32=$(command -v wine || echo /usr/lib/wine/wine)
KELVRA_WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# kelvra_wine_for EXE: the loader for a Windows program. The PE header's
# machine field tells 32-bit (0x14c) from 64-bit (0x8664).
kelvra_wine_for() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 8664 ]; then echo "$KELVRA_WINE64"; else echo "$KELVRA_WINE32"; fi
}

# kelvra_wine_prefix DIR [LOADER]: makes the Wine prefix DIR unless it is
# there (minutes), with LOADER (64-bit Wine unless given), and waits until
# its Wine server has ended, so the prefix is complete on disk and may be
# copied. Two callers starting together make it once. Fails loudly when
# Wine made no prefix.
kelvra_wine_prefix() {
  local dir=$1 loader=${2:-$KELVRA_WINE64}
  [ -f "$dir/system.reg" ] && return 0
  mkdir -p "$(dirname "$dir")"
  (
    flock 9
    [ -f "$dir/system.reg" ] && exit 0
    # No display: the first start's progress window has nowhere to go.
    env -u DISPLAY -u WINEARCH WINEPREFIX="$dir" "$loader" wineboot -i >/dev/null 2>&1 || true
    env -u DISPLAY WINEPREFIX="$dir" timeout 1200 "$KELVRA_WINESERVER" -w >/dev/null 2>&1 || true
  ) 9>"$dir.wineboot.lock"
  if [ ! -f "$dir/system.reg" ] || [ ! -d "$dir/drive_c/windows" ]; then
    echo "wine-env: wineboot did not make a prefix in $dir" >&2
    return 1
  fi
}

# kelvra_x_display WIDTHxHEIGHT: starts a private Xvfb on whatever display
# number is free and exports its DISPLAY; KELVRA_XVFB is its process, for
# the caller to end.
kelvra_x_display() {
  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  KELVRA_XVFB=$!
  for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n1 "$displayfile")
  rm -f "$displayfile"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    env)
      printf '%s=%s\n' WINEDEBUG "$WINEDEBUG" WINEDLLOVERRIDES "$WINEDLLOVERRIDES" \
        KELVRA_WINE64 "$KELVRA_WINE64" KELVRA_WINE32 "$KELVRA_WINE32" KELVRA_WINESERVER "$KELVRA_WINESERVER"
      ;;
    prefix)
      [ $# -eq 2 ] || { echo "usage: wine-env.sh prefix DIR" >&2; exit 2; }
      kelvra_wine_prefix "$2"
      ;;
    *)
      echo "usage: source wine-env.sh | bash wine-env.sh env | bash wine-env.sh prefix DIR" >&2
      exit 2
      ;;
  esac
fi
