#!/usr/bin/env bash
# KELVRA.EXE as a meter under Wine: shows its window, stays single, keeps its
# GDI count flat through many updates, exits on "KelvraExit", and grows with
# the display's scale (screenshots at 100 and 200 per cent are left in the
# work directory as meter-96.png and meter-192.png).
source "$(dirname "$0")/wine-common.sh"

# The manifest: the user's normal rights, Windows 10 and 11, Common Controls
# 6, and the UTF-8 code page for every 8-bit call.
manifest=$(drive manifest "Z:$product")
for want in 'level="asInvoker"' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' 'name="Microsoft.Windows.Common-Controls"' \
            '>UTF-8</activeCodePage>'; do
  grep -qF "$want" <<<"$manifest" || fail "manifest lacks $want"
done
echo "ok: manifest"

# set_dpi <dpi>: the scale the next program started sees.
set_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
# screenshot <file>: the meter window, frame included, as Wine draws it.
screenshot() {
  local left top right bottom
  read -r left top right bottom <<<"$(drive frame)"
  sleep 1
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$1"
}
# No window manager on the test display: Wine draws the frame itself, with
# its own caption font and buttons, found only in the prefix.
cp -f /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
set_dpi 96

timeout 300 "$wine" "$product" &
meter=$!
expect "meter window" "meter window 360x214" "$(drive wait-window 60000)"
screenshot "$work/meter-96.png"
# The rates are window texts a screen reader reads, each beside its caption.
rate='(n/a|[0-9.]+ [KM]?B/s)'
texts=$(drive texts)
grep -qE "^Received\|$rate\|Sent\|$rate\$" <<<"$texts" || fail "the meter's controls read: $texts"
echo "ok: rates as window texts: $texts"
expect "captions and rates fit" "every text fits" "$(drive fits)"

# A second start brings the first forward and leaves.
timeout 60 "$wine" "$product" || fail "second start did not exit by itself"
expect "one meter window" "1" "$(drive count)"

# Wine reports 0 GDI objects for every process; Windows gives real counts.
gdi=$(drive gdi 3000)
echo "$gdi"
read -r before after <<<"$(sed -E 's/gdi objects ([0-9]+) -> ([0-9]+).*/\1 \2/' <<<"$gdi")"
[ "$after" -le $((before + 2)) ] || fail "GDI objects grew: $gdi"
expect "window survives updates" "1" "$(drive count)"

expect "exit on KelvraExit" "meter window gone" "$(drive send-exit 20000)"
wait "$meter" || fail "meter exited with $?"
echo "ok: meter process ended"

# Without the interface library the meter still starts, and still closes.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;iphlpapi=d" timeout 300 "$wine" "$product" &
meter=$!
expect "meter window without iphlpapi" "meter window 360x214" "$(drive wait-window 60000)"
expect "exit on KelvraExit without iphlpapi" "meter window gone" "$(drive send-exit 20000)"
wait "$meter" || fail "meter exited with $?"

# At 150 and 200 per cent the window, its fonts and its graph grow in
# proportion.
for scaled in "144 540x321" "192 720x428"; do
  read -r dpi size <<<"$scaled"
  set_dpi "$dpi"
  timeout 300 "$wine" "$product" &
  meter=$!
  expect "meter window at $dpi DPI" "meter window $size" "$(drive wait-window 60000)"
  expect "captions and rates fit at $dpi DPI" "every text fits" "$(drive fits)"
  [ "$dpi" = 192 ] && screenshot "$work/meter-192.png"
  expect "exit on KelvraExit at $dpi DPI" "meter window gone" "$(drive send-exit 20000)"
  wait "$meter" || fail "meter exited with $?"
done
set_dpi 96
