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

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINEPREFIX=$work/wineprefix

# The display first: a prefix's desktop made without one has no window station.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$displayfile")
rm -f "$displayfile"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot -i >/dev/null 2>&1 || true
  # No window manager on the test display: Wine draws the frames itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
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
    window=$(xdotool search --onlyvisible --name '^Kelvra 2\.0 Setup$' 2>/dev/null | tail -n1 || true)
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
  wineserver -k >/dev/null 2>&1 || true
  wait "$setup" 2>/dev/null || true
done
exit $status
