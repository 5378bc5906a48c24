#!/usr/bin/env bash
# KELVRA.EXE /UNINSTALL under Wine, on an installation laid out by the test
# driver: No changes nothing and exits 1602; Yes removes the product's files, shortcuts in
# both Programs folders and key, closes a running meter, and keeps the user's
# own file; a held file keeps the entry; a copy elsewhere removes nothing.
source "$(dirname "$0")/wine-common.sh"

dir='C:\Kelvra Test'
program="$dir\\KELVRA.EXE"
installed=$(printf '%s\n' \
  "KELVRA.EXE present" "KELVRA.HLP present" "KELVRA.INI present" "README.TXT present" "LICENSE.TXT present" \
  "user file present, intact" "directory present" \
  "user shortcut Kelvra.lnk present" "user shortcut Kelvra Help.lnk present" "user shortcut folder present" \
  "all-users shortcut Kelvra.lnk present" "all-users shortcut Kelvra Help.lnk present" \
  "all-users shortcut folder present" "uninstall key present" "cleanup helper absent")
removed_keeping_user_file=$(sed -e '/^user file/!s/present$/absent/' -e 's/^directory absent$/directory present/' \
  <<<"$installed")
removed_all=$(sed -e 's/^user file present, intact$/user file absent/' -e 's/^directory present$/directory absent/' \
  <<<"$removed_keeping_user_file")

echo "== answered No"
drive install "$dir" "Z:$product" >/dev/null
expect "installed state" "$installed" "$(drive state "$dir")"
# Through the driver, which reads the whole exit code where the shell keeps 8 bits.
drive run 90000 "\"$program\" /uninstall" >"$work/cancel.out" &
uninstaller=$!
expect "question" "Remove Kelvra and its Start menu shortcuts?" "$(drive answer no 60000)"
wait "$uninstaller" || true
expect "cancel's exit code" "exit code 1602" "$(cat "$work/cancel.out")"
expect "nothing changed" "$installed" "$(drive state "$dir")"

echo "== answered Yes, meter running, user file in the directory"
timeout 300 "$wine" "$program" &
meter=$!
drive wait-window 60000 >/dev/null || fail "meter did not start"
timeout 120 "$wine" "$program" /UNINSTALL &
uninstaller=$!
expect "question" "Remove Kelvra and its Start menu shortcuts?" "$(drive answer yes 60000)"
# The closing message comes only once the helper has said it runs; it then
# waits in a private directory. Wine keeps no Windows ACL on files (it shows
# one made from the Unix mode), so the ACL is printed, not compared.
helper=$(drive helper-directory 60000)
echo "$helper"
expect "helper's private directory" "name Kelvra- and 16 characters
helper present" "$(grep -v '^acl ' <<<"$helper")"
expect "outcome" "Kelvra has been removed from your computer.

Files that were not installed by Kelvra have been left in the installation folder." "$(drive answer ok 60000)"
wait "$uninstaller" || fail "uninstaller exited with $?"
wait "$meter" || fail "meter exited with $?"
expect "meter closed" "0" "$(drive count)"
expect "removed, user file kept" "$removed_keeping_user_file" "$(settled_state)"

echo "== answered Yes, nothing of the user's"
drive install "$dir" "Z:$product" --no-user-file >/dev/null
uninstall_yes "$program" "Kelvra has been removed from your computer."
expect "all removed" "$removed_all" "$(settled_state)"

echo "== answered Yes, one file held open by another program"
drive install "$dir" "Z:$product" --no-user-file >/dev/null
timeout 120 "$wine" "$driver" hold "$dir\\README.TXT" 15000 >"$work/hold.out" &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/hold.out" 2>/dev/null && break; sleep 0.1; done
uninstall_yes "$program" "Kelvra could not be removed completely.

These files could not be deleted:
    README.TXT

Kelvra stays in the list of installed programs, so that you can remove it again once the files are no longer in use." 1
wait "$holder" || true
# The entry stays with the file, so that the removal can be run again.
expect "only the held file and the entry left" "$(sed -e 's/^README.TXT absent$/README.TXT present/' \
  -e 's/^directory absent$/directory present/' -e 's/^uninstall key absent$/uninstall key present/' \
  <<<"$removed_all")" "$(settled_state)"

echo "== a copy outside the installation removes nothing"
drive install "$dir" "Z:$product" >/dev/null
mkdir -p "$WINEPREFIX/drive_c/Downloads"
cp "$product" "$WINEPREFIX/drive_c/Downloads/KELVRA.EXE"
echo "the user's readme" >"$WINEPREFIX/drive_c/Downloads/README.TXT"
timeout 120 "$wine" 'C:\Downloads\KELVRA.EXE' /UNINSTALL &
uninstaller=$!
expect "refusal" "This copy of Kelvra is not the installed one, so nothing has been removed.

This copy is in:
    C:\Downloads\\
Kelvra is installed in:
    C:\Kelvra Test\\" "$(drive answer ok 60000)"
code=0
wait "$uninstaller" || code=$?
expect "refusal's exit code" "1" "$code"
expect "installation untouched" "$installed" "$(drive state "$dir")"
[ -f "$WINEPREFIX/drive_c/Downloads/README.TXT" ] || fail "the copy deleted a file beside it"
echo "ok: the file beside the copy kept"
