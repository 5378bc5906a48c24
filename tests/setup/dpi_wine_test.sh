#!/usr/bin/env bash
# The setup dialog at several display scales under 64-bit Wine: the dialog
# tests of the setup's Wine test program, run in a private prefix whose
# LogPixels is set to each DPI in turn, on a private X display. Then the
# real setup file shows its dialog at that scale for a screenshot,
# setup-dialog-<dpi>.png in the work directory, and is ended unanswered.
# Usage: dpi_wine_test.sh <setup_wine_tests.exe> <KelvraSetup.exe> <work dir> 96 <dpi>...
set -euo pipefail
tests=$1
stub=$2
work=$3
shift 3
mkdir -p "$work"

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$repo/scripts/wine-env.sh"
wine=$KELVRA_WINE64
export WINEPREFIX=$work/wineprefix
# The dialog's caption as resources/setup.rc makes it from version.h, as a
# pattern for xdotool.
version_text() { sed -n "s/^#define $1 \"\(.*\)\"$/\1/p" "$repo/resources/version.h"; }
title="^$(version_text KELVRA_PRODUCT_NAME) $(version_text KELVRA_DISPLAY_VERSION | sed 's/[.]/\\./g') Setup\$"

kelvra_wine_prefix "$WINEPREFIX"
kelvra_x_display 1600x1200
trap '"$KELVRA_WINESERVER" -k >/dev/null 2>&1 || true; kill $KELVRA_XVFB 2>/dev/null || true' EXIT
# No window manager on the test display: Wine draws the frames itself.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# Wine's own fonts, where installed, are found only in the prefix: they give
# the caption its buttons. Wine has no "Microsoft Sans Serif"; the dialog
# falls back to a wider face, which the tests take as it comes.
cp -f /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

status=0
export KELVRA_DIALOG_AT_96="Z:$work/dialog-at-96.txt"
rm -f "$work/dialog-at-96.txt"
for dpi in "$@"; do
  echo "=== $dpi DPI"
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$wine" "$tests" "Z:$stub" --gtest_filter='SetupDialogTest.*' || status=1

  "$wine" "$stub" >/dev/null 2>&1 &
  setup=$!
  window=
  for _ in $(seq 200); do
    window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | tail -n1 || true)
    [ -n "$window" ] && break
    sleep 0.3
  done
  if [ -n "$window" ]; then
    sleep 2  # the first paint
    import -window "$window" "$work/setup-dialog-$dpi.png"
  else
    echo "FAIL: no setup dialog at $dpi DPI"
    status=1
  fi
  "$KELVRA_WINESERVER" -k >/dev/null 2>&1 || true
  wait "$setup" 2>/dev/null || true
done
exit $status
