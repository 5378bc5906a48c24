#!/usr/bin/env bash
# The real setup file, silent, over an installed Kelvra: a meter on another
# desktop (out of the broadcast's reach) is closed by the global event and
# every file replaced; a file held without delete sharing leaves all files
# to the restart (3010), done by "wineboot -r"; a reinstall outlives an
# uninstall's restart-time deletion, and an uninstall takes back the moves
# a 3010 setup left; the user's settings outlive a reinstall.
# Extra argument: KelvraSetup.exe.
source "$(dirname "$0")/wine-common.sh"
setup=$4

dir="$WINEPREFIX/drive_c/Program Files/Kelvra"
program='C:\Program Files\Kelvra\KELVRA.EXE'
log="$work/update.log"
session='HKLM\System\CurrentControlSet\Control\Session Manager'
# The product's files, from the list the setup and the uninstaller are built with.
files=$(sed -n 's/^KELVRA_PRODUCT_FILE("\([^"]*\)".*/\1/p' "$repo/common/productfiles.inc")
count=$(wc -w <<<"$files")

# One line per product file with its inode: a file replaced has a new one.
inodes() { for f in $files; do echo "$f $(stat -c %i "$dir/$f" 2>/dev/null || echo absent)"; done; }
temporaries() { find "$dir" -name '~kx*' | wc -l; }
install() { rm -f "$log" && drive run 120000 "\"Z:$setup\" /S /LOG=Z:$log"; }
meters() { timeout 60 "$wine" winedbg --command "info proc" 2>/dev/null | grep -c "'KELVRA.EXE'" || true; }
# every_file_new <before> <after>
every_file_new() {
  paste -d' ' <(echo "$1") <(echo "$2") | awk '$2 == $4 || $4 == "absent" {print; bad = 1} END {exit bad}' ||
    fail "not every file replaced"
  echo "ok: every file replaced"
}

timeout 60 "$wine" reg delete "$session" /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
rm -rf "$dir" "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Kelvra
expect "first install" "exit code 0" "$(install)"

echo "== a meter on another desktop: the event closes it"
timeout 120 "$wine" explorer /desktop=other,800x600 "$program" >/dev/null 2>&1 &
for _ in $(seq 30); do [ "$(meters)" = 1 ] && break; sleep 0.5; done
drive send-exit >/dev/null || true
expect "meter running, out of the broadcast's reach" 1 "$(meters)"
before=$(inodes)
expect "update over it" "exit code 0" "$(install)"
expect "meter exited" 0 "$(meters)"
every_file_new "$before" "$(inodes)"
expect "no staged file left" 0 "$(temporaries)"
grep -q 'programs running from the destination ended after' "$log" || fail "log: $(cat "$log")"

echo "== a file held without delete sharing: all at the restart"
# A fresh server carries out pending moves itself: one that stays from here
# to "wineboot -r" proves that the restart does it.
wineserver -k >/dev/null 2>&1 || true
wineserver -w
wineserver -p
timeout 120 "$wine" "$driver" hold 'C:\Program Files\Kelvra\README.TXT' 20000 >"$work/hold.out" &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
before=$(inodes)
expect "update with a file in use" "exit code 3010" "$(install)"
expect "nothing replaced yet" "$before" "$(inodes)"
expect "every file staged" "$count" "$(temporaries)"
grep -q 'in use: C:\\Program Files\\Kelvra\\README.TXT' "$log" || fail "log: $(cat "$log")"
expect "log names each file" "$count" "$(grep -c '^at restart: C:\\Program Files\\Kelvra\\' "$log")"
wait "$holder" || true
timeout 120 "$wine" wineboot -r >/dev/null 2>&1
every_file_new "$before" "$(inodes)"
expect "no staged file left" 0 "$(temporaries)"

echo "== the same in the dialog: the restart message ends it"
timeout 120 "$wine" "$driver" hold 'C:\Program Files\Kelvra\KELVRA.HLP' 30000 >"$work/hold.out" &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
timeout 300 "$wine" "$setup" &
setup_process=$!
drive press "$setup_title" 1 60000 >/dev/null || fail "no setup dialog"
expect "message" "Kelvra will be completely installed when you restart your computer." \
  "$(drive press "Kelvra Setup" 1 120000)"
code=0
wait "$setup_process" || code=$?
expect "exit code 3010, as the shell sees its low byte" 194 "$code"
wait "$holder" || true
# An uninstall before that restart takes the staged files' moves back, so
# the restart brings none of them back; the next case reinstalls.
ulog="$work/uninstall.log"
rm -f "$ulog"
expect "uninstall before the restart" "exit code 0" "$(drive run 90000 "\"$program\" /UNINSTALL /S /LOG=Z:$ulog")"
expect "log names each move taken back" 5 \
  "$(grep -c '^.\{20\}restart-time operation dropped: C:\\Program Files\\Kelvra\\~kx' "$ulog")"
for _ in $(seq 60); do [ -e "$dir/KELVRA.EXE" ] || break; sleep 0.5; done
timeout 120 "$wine" wineboot -r >/dev/null 2>&1
expect "no product file back after the restart" "" "$(inodes | grep -v absent || true)"
expect "no staged file left" 0 "$(find "$dir" -name '~kx*' 2>/dev/null | wc -l)"
expect "reinstall" "exit code 0" "$(install)"

echo "== an uninstall's restart-time deletion does not outlive a reinstall"
# Without user32 the uninstaller's cleanup helper cannot start, so the
# program is left to be deleted at the restart.
appdefaults='HKCU\Software\Wine\AppDefaults\KelvraCleanup.exe\DllOverrides'
timeout 60 "$wine" reg add "$appdefaults" /v user32 /d "" /f >/dev/null 2>&1
expect "uninstall" "exit code 3010" "$(drive run 90000 "\"$program\" /UNINSTALL /S")"
timeout 60 "$wine" reg delete "${appdefaults%\\*}" /f >/dev/null 2>&1
pending=$(timeout 60 "$wine" reg query "$session" /v PendingFileRenameOperations | tr -d '\r')
expect "reinstall" "exit code 0" "$(install)"
# Where the uninstaller left the program's own name to the restart, the
# reinstall takes that deletion back.
if grep -qF 'Kelvra\KELVRA.EXE\0' <<<"$pending"; then
  grep -q 'restart-time operation dropped: C:\\Program Files\\Kelvra\\KELVRA.EXE -> (delete)' "$log" ||
    fail "log: $(cat "$log")"
  echo "ok: the deletion of KELVRA.EXE taken back"
fi
timeout 120 "$wine" wineboot -r >/dev/null 2>&1
expect "every file there after the restart" "" "$(inodes | grep absent || true)"

echo "== the user's settings outlive a reinstall"
timeout 120 "$wine" "$program" >/dev/null 2>&1 &
expect "Ctrl+T" "meter on top" "$(drive ctrl-t 30000)"
settings=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Roaming/Kelvra/KELVRA.INI')
grep -q '^AlwaysOnTop=1' "$settings" || fail "not kept: $(cat "$settings")"
expect "reinstall over the meter" "exit code 0" "$(install)"
grep -q '^AlwaysOnTop=1' "$settings" || fail "lost: $(cat "$settings")"
grep -q '^AlwaysOnTop=0' "$dir/KELVRA.INI" || fail "defaults changed: $(cat "$dir/KELVRA.INI")"
timeout 120 "$wine" "$program" >/dev/null 2>&1 &
expect "started again" "meter on top" "$(drive on-top 30000)"
drive send-exit >/dev/null || true
