#!/usr/bin/env bash
# Builds the setup file and runs it under Wine in a fresh private prefix.
#
# With a display ($DISPLAY set) the real dialog comes up for a person to use.
# Without one (or with KELVRA_DEMO_HEADLESS=1) it starts Xvfb, keeps the
# proposed destination, presses Enter for Install and Enter again for the
# success message, then prints what was installed where and saves
# screenshots of the dialog and of the success message. Exits non-zero when
# the install did not leave the files, shortcuts and uninstall entry behind.
#
# Environment: KELVRA_DEMO_PRESET (win64, the default, or win32: the shipped
# PE32 file, which needs 32-bit Wine and starts in about a minute),
# KELVRA_DEMO_BUILD (build tree, default build/<preset>).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${KELVRA_DEMO_PRESET:-win64}
build=${KELVRA_DEMO_BUILD:-$root/build/$preset}
demo=$build/demo

say() { printf 'demo-install: %s\n' "$*"; }
fail() { say "FAILED: $*" >&2; exit 1; }

# --- build ------------------------------------------------------------------
[ -x "$root/scripts/bootstrap.sh" ] && "$root/scripts/bootstrap.sh"
cd "$root"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset "$preset" -B "$build" >/dev/null
fi
cmake --build "$build" --target kelvra_setup -j2
setup=$build/KelvraSetup.exe
[ -f "$setup" ] || fail "no $setup after the build"
say "built $setup ($(stat -c %s "$setup") bytes; stub $(stat -c %s "$build/KelvraSetupStub.exe") bytes)"

# --- a fresh Wine prefix ----------------------------------------------------
source "$root/scripts/wine-env.sh"
wine=$(kelvra_wine_for "$setup")
wineserver=$KELVRA_WINESERVER

mkdir -p "$demo"
base=$demo/base-prefix
if [ ! -f "$base/system.reg" ]; then
  say "creating a Wine prefix (once per build tree; can take a few minutes)"
  kelvra_wine_prefix "$base" "$wine" || fail "wineboot did not create $base"
fi
export WINEPREFIX=$demo/prefix
rm -rf "$WINEPREFIX"
cp -a "$base" "$WINEPREFIX"
# Wine's own fonts, where installed, give the dialog font and the caption
# buttons their proper shapes.
fonts=/usr/share/wine/fonts
if [ -d "$fonts" ]; then
  cp -f "$fonts"/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi

xvfb_pid=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true   # this prefix only: the setup and the started Kelvra
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# --- run --------------------------------------------------------------------
drive_c=$WINEPREFIX/drive_c
if [ -n "${DISPLAY:-}" ] && [ -z "${KELVRA_DEMO_HEADLESS:-}" ]; then
  say "running the setup on $DISPLAY; install or cancel in the dialog"
  "$wine" "$setup" || true
  "$wineserver" -w || true
else
  for n in $(seq 90 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:$n
  for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.2; done
  # No window manager: Wine draws the captions itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1

  wait_window() {  # name, seconds: prints the window id
    local id
    for _ in $(seq $(($2 * 2))); do
      id=$(xdotool search --name "^$1\$" 2>/dev/null | head -1) || true
      if [ -n "$id" ]; then echo "$id"; return 0; fi
      sleep 0.5
    done
    return 1
  }
  press_enter() {
    xdotool windowfocus "$1" 2>/dev/null || true
    sleep 0.5
    xdotool key Return
  }

  "$wine" "$setup" &
  setup_pid=$!
  timeout=60
  [ "$preset" = win32 ] && timeout=300
  version=$(sed -n 's/^#define KELVRA_DISPLAY_VERSION "\(.*\)"$/\1/p' "$root/resources/version.h")
  dialog=$(wait_window "Kelvra $version Setup" $timeout) || fail "the setup dialog did not appear"
  sleep 2  # let the picture paint
  import -window "$dialog" "$demo/setup-dialog.png" 2>/dev/null || import -window root "$demo/setup-dialog.png"
  say "dialog shown; screenshot $demo/setup-dialog.png"
  press_enter "$dialog"
  box=$(wait_window "Kelvra Setup" 120) || { import -window root "$demo/setup-stuck.png"; fail "no message after Install (see $demo/setup-stuck.png)"; }
  import -window root "$demo/setup-done.png"
  say "message shown; screenshot $demo/setup-done.png"
  press_enter "$box"
  # Starting the installed program waits for it to be ready for input,
  # which takes a while when 32-bit Wine is emulated.
  for _ in $(seq $((timeout * 2))); do kill -0 "$setup_pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$setup_pid" 2>/dev/null && fail "the setup did not exit after its message"
  if wait_window "Kelvra" 20 >/dev/null; then say "the installed Kelvra was started"; fi
fi

# --- what was installed -----------------------------------------------------
# contract_text NAME: the text of a name common/contract.h defines, its
# pieces joined and KELVRA_PRODUCT_NAME taken from version.h, as C++ sees it.
contract_text() {
  local product
  product=$(sed -n 's/^#define KELVRA_PRODUCT_NAME "\(.*\)"$/\1/p' "$root/resources/version.h")
  sed -n "/^constexpr const char \*$1 =/{:a;/;/!{N;ba};p}" "$root/common/contract.h" |
    sed "s/KELVRA_PRODUCT_NAME/\"$product\"/g" | grep -o '"[^"]*"' | tr -d '"\n' | sed 's/\\\\/\\/g'
}
uninstall_key="HKLM\\$(contract_text UninstallKeyPath)"
extension=$(contract_text ShortcutExtension)
shortcuts=("$(contract_text ProgramShortcut)$extension" "$(contract_text HelpShortcut)$extension")
[ "${shortcuts[0]}" != "$extension" ] || fail "no shortcut names in $root/common/contract.h"
product="$drive_c/Program Files/Kelvra"
# Everyone's Programs folder: the setup puts its shortcuts there in both modes.
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$(contract_text ProductName)"
say "installed into C:\\Program Files\\Kelvra ($product):"
ls -l "$product" 2>/dev/null | tail -n +2 || true
say "Start menu folder ($menu):"
ls -1 "$menu" 2>/dev/null || true
say "uninstall entry:"
"$wine" reg query "$uninstall_key" /reg:32 2>/dev/null | tr -d '\r' | grep -v '^$' || true

missing=()
# The product's files, from the list the payload's build and the uninstaller read.
mapfile -t product_files < <(sed -n 's/^KELVRA_PRODUCT_FILE("\([^"]*\)".*/\1/p' "$root/common/productfiles.inc")
[ ${#product_files[@]} -gt 0 ] || fail "no product files in $root/common/productfiles.inc"
for f in "${product_files[@]}"; do
  [ -n "$(find "$product" -maxdepth 1 -iname "$f" 2>/dev/null)" ] || missing+=("$f")
done
for f in "${shortcuts[@]}"; do
  [ -f "$menu/$f" ] || missing+=("shortcut $f")
done
"$wine" reg query "$uninstall_key" /v "$(contract_text UninstallStringValue)" /reg:32 >/dev/null 2>&1 \
  || missing+=("uninstall entry")
[ ${#missing[@]} -eq 0 ] || fail "missing after the install: ${missing[*]}"
say "install complete"
