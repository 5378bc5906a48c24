#!/usr/bin/env bash
# KELVRA.EXE as a meter under Wine: shows its window, stays single, keeps its
# GDI count flat through many updates, and exits on "KelvraExit".
source "$(dirname "$0")/wine-common.sh"

# The manifest: the user's normal rights, Windows 10 and 11, Common Controls
# 6, and the UTF-8 code page for every 8-bit call.
manifest=$(drive manifest "Z:$product")
for want in 'level="asInvoker"' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' 'name="Microsoft.Windows.Common-Controls"' \
            '>UTF-8</activeCodePage>'; do
  grep -qF "$want" <<<"$manifest" || fail "manifest lacks $want"
done
echo "ok: manifest"

timeout 300 "$wine" "$product" &
meter=$!
expect "meter window" "meter window 360x214" "$(drive wait-window 60000)"

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
