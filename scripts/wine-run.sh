#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix, never the user's own:
# the prefix lives in the build tree (or KELVRA_WINEPREFIX), Wine stays quiet
# and never touches the host's menus. A PE32+ program runs under 64-bit Wine;
# a PE32 one needs 32-bit Wine (see scripts/i386-emulator.sh).
set -euo pipefail

exe=$1
shift

if [ -z "${KELVRA_WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(cd "$(dirname "$exe")" && pwd)
  KELVRA_WINEPREFIX=$dir/wineprefix
fi
export WINEPREFIX=$KELVRA_WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}

# PE header: the machine field tells 32-bit (0x14c) from 64-bit (0x8664).
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = 8664 ]; then
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
else
  wine=$(command -v wine || echo /usr/lib/wine/wine)
fi

# Making a prefix takes a while; two tests starting together must not both do it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1 || true
  ) 9>"$WINEPREFIX.lock"
fi

exec "$wine" "$exe" "$@"
