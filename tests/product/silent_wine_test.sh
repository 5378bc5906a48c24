#!/usr/bin/env bash
# KELVRA.EXE /UNINSTALL /S under Wine, run as a deployment tool runs it (the
# driver starts it and reads the whole exit code): no question, no message;
# started with the user's normal rights it restarts itself with "runas" and
# passes the exit code on, 740 when the restart got no rights either; 0 with
# the user's file kept, 1 with a held file named in the log and the entry
# kept, 1 from a copy outside the installation, 3010 when the cleanup helper
# cannot run (the program renamed for the restart), 87 for a bad command line.
source "$(dirname "$0")/wine-common.sh"

dir='C:\Kelvra Silent'
program="$dir\\KELVRA.EXE"
log="$work/silent.log"
installed=$(drive install "$dir" "Z:$product" >/dev/null && drive state "$dir")
removed=$(sed -e '/^user file/!s/present$/absent/' -e 's/^directory absent$/directory present/' <<<"$installed")

# run <expected exit code> <command line>: a message box would keep the
# program waiting, so a run that ends at all showed none.
run() {
  expect "exit code of $2" "exit code $1" "$(drive run 90000 "$2")"
}

echo "== silent, with a log, the user's file kept"
rm -f "$log"
run 0 "\"$program\" /UNINSTALL /S \"/LOG=Z:$log\""
expect "removed, user file kept" "$removed" "$(settled_state)"
grep -q 'result: exit code 0, removed' "$log" || fail "log: $(cat "$log")"
echo "ok: log tells the result"

echo "== silent, started with the user's normal rights: restarts, and without rights fails at once"
drive install "$dir" "Z:$product" >/dev/null
installed_again=$(drive state "$dir")
rm -f "$log"
# One restart, never a second: Wine's "runas" grants no rights (it has no
# elevation prompt), so the restarted copy runs without them as well, as it
# would where the prompt is switched off, and gives up before deleting.
expect "restarted, 740 passed on" "limited token not elevated
exit code 740" "$(drive run-limited 90000 "\"$program\" /UNINSTALL /S /LOG=Z:$log")"
expect "nothing removed" "$installed_again" "$(drive state "$dir")"
expect "log of both copies" "asking for administrator rights
KELVRA.EXE /ELEVATED /UNINSTALL /S /LOG=Z:$log
restarted without administrator rights: nothing removed, exit code 740" \
  "$(cut -c21- "$log" | tr -d '\r' | grep -E '^(asking|KELVRA.EXE /ELEVATED|restarted)')"
run 0 "\"$program\" /UNINSTALL /S"
expect "removed with the rights, user file kept" "$removed" "$(settled_state)"

echo "== silent, entry without InstallLocation, nothing of the user's"
drive install "$dir" "Z:$product" --no-user-file --no-location >/dev/null
run 0 "\"$program\" -uninstall -s"
expect "all removed" "$(sed -e 's/^user file present, intact$/user file absent/' \
  -e 's/^directory present$/directory absent/' <<<"$removed")" "$(settled_state)"

echo "== silent, one file held open"
drive install "$dir" "Z:$product" >/dev/null
timeout 120 "$wine" "$driver" hold "$dir\\README.TXT" 20000 >"$work/hold.out" &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
rm -f "$log"
run 1 "\"$program\" /UNINSTALL /S /LOG=Z:$log"
wait "$holder" || true
grep -q "not deleted: C:\\\\Kelvra Silent\\\\README.TXT" "$log" || fail "log: $(cat "$log")"
grep -q 'stayed: README.TXT' "$log" || fail "log: $(cat "$log")"
grep -q 'uninstall entry kept' "$log" || fail "log: $(cat "$log")"
echo "ok: log names the file that stayed"
expect "held file and entry kept" "$(sed -e 's/^README.TXT absent$/README.TXT present/' \
  -e 's/^uninstall key absent$/uninstall key present/' <<<"$removed")" "$(settled_state)"

echo "== silent, from a copy outside the installation"
drive install "$dir" "Z:$product" >/dev/null
mkdir -p "$WINEPREFIX/drive_c/Downloads"
cp "$product" "$WINEPREFIX/drive_c/Downloads/KELVRA.EXE"
run 1 '"C:\Downloads\KELVRA.EXE" /UNINSTALL /S'
expect "installation untouched" "$installed" "$(drive state "$dir")"

echo "== silent, a bad switch changes nothing"
run 87 "\"$program\" /UNINSTALL /S /SILENT"
expect "installation untouched" "$installed" "$(drive state "$dir")"

echo "== silent, the cleanup helper cannot start"
# Wine's per-program settings stand in for an antivirus or a policy that
# stops the copy: without user32 it cannot load.
appdefaults='HKCU\Software\Wine\AppDefaults\KelvraCleanup.exe\DllOverrides'
timeout 60 "$wine" reg add "$appdefaults" /v user32 /d "" /f >/dev/null 2>&1
rm -f "$log"
run 3010 "\"$program\" /UNINSTALL /S /LOG=Z:$log"
timeout 60 "$wine" reg delete "${appdefaults%\\*}" /f >/dev/null 2>&1
grep -q 'cleanup helper did not signal that it runs' "$log" || fail "log: $(cat "$log")"
grep -q 'deleted at the next restart' "$log" || fail "log: $(cat "$log")"
pending=$(timeout 60 "$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
            /v PendingFileRenameOperations | tr -d '\r')
# Under a name of its own, so that a reinstall before the restart keeps its KELVRA.EXE.
retired=$(cd "$WINEPREFIX/drive_c/Kelvra Silent" && ls Kelvra-*.old)
grep -q "Kelvra Silent\\\\$retired" <<<"$pending" || fail "$retired not scheduled for the restart: $pending"
echo "ok: KELVRA.EXE renamed to $retired and scheduled for deletion at the restart"
expect "only the renamed program left, for the restart" "$removed" "$(drive state "$dir")"
rm -f "$WINEPREFIX/drive_c/Kelvra Silent/$retired"
timeout 60 "$wine" reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
  /v PendingFileRenameOperations /f >/dev/null 2>&1 || true

echo "== silent, installed under a name in several scripts"
# The UTF-8 code page of the manifest lets every 8-bit call take the path.
export LC_ALL=C.UTF-8
unicode_dir='C:\Kelvra Ünï Дж 測試'
drive install "$unicode_dir" "Z:$product" >/dev/null
rm -f "$log"
run 0 "\"$unicode_dir\\KELVRA.EXE\" /UNINSTALL /S /LOG=Z:$log"
dir=$unicode_dir
expect "removed, user file kept" "$removed" "$(settled_state)"
grep -qF "removing from $unicode_dir" "$log" || fail "log: $(cat "$log")"
echo "ok: the log names the directory in its own letters"
