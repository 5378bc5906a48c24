#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix, never the user's own:
# the prefix lives in the build tree (or KELVRA_WINEPREFIX), with the
# environment of scripts/wine-env.sh. A PE32+ program runs under 64-bit Wine;
# a PE32 one needs 32-bit Wine (see scripts/i386-emulator.sh).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

exe=$1
shift

if [ -z "${KELVRA_WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(cd "$(dirname "$exe")" && pwd)
  KELVRA_WINEPREFIX=$dir/wineprefix
fi
export WINEPREFIX=$KELVRA_WINEPREFIX

wine=$(kelvra_wine_for "$exe")
kelvra_wine_prefix "$WINEPREFIX" "$wine"
exec "$wine" "$exe" "$@"
