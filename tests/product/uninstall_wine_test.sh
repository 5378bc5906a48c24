#!/usr/bin/env bash
# KELVRA.EXE /UNINSTALL under Wine, on an installation laid out by the test
# driver: No changes nothing; Yes removes the product's files, shortcuts and
# key, closes a running meter, and keeps the user's own file.
source "$(dirname "$0")/wine-common.sh"

dir='C:\Kelvra Test'
program="$dir\\KELVRA.EXE"
installed=$(printf '%s\n' \
  "KELVRA.EXE present" "KELVRA.HLP present" "KELVRA.INI present" "README.TXT present" "LICENSE.TXT present" \
  "user file present, intact" "directory present" \
  "shortcut Kelvra.lnk present" "shortcut Kelvra Help.lnk present" "shortcut folder present" \
  "uninstall key present" "cleanup helper absent")
removed_keeping_user_file=$(printf '%s\n' \
  "KELVRA.EXE absent" "KELVRA.HLP absent" "KELVRA.INI absent" "README.TXT absent" "LICENSE.TXT absent" \
  "user file present, intact" "directory present" \
  "shortcut Kelvra.lnk absent" "shortcut Kelvra Help.lnk absent" "shortcut folder absent" \
  "uninstall key absent" "cleanup helper absent")
removed_all=$(sed -e 's/^user file present, intact$/user file absent/' -e 's/^directory present$/directory absent/' \
  <<<"$removed_keeping_user_file")

# Waits (bounded) for the cleanup helper to delete the program after the uninstaller exits.
settled_state() {
  local state
  for _ in $(seq 60); do
    state=$(drive state "$dir")
    grep -q '^KELVRA.EXE absent' <<<"$state" && grep -q '^cleanup helper absent' <<<"$state" && break
    sleep 0.5
  done
  echo "$state"
}

echo "== answered No"
drive install "$dir" "Z:$product" >/dev/null
expect "installed state" "$installed" "$(drive state "$dir")"
timeout 120 "$wine" "$program" /uninstall &
uninstaller=$!
expect "question" "Remove Kelvra and its Start menu shortcuts?" "$(drive answer no 60000)"
wait "$uninstaller" || fail "uninstaller exited with $?"
expect "nothing changed" "$installed" "$(drive state "$dir")"

echo "== answered Yes, meter running, user file in the directory"
timeout 300 "$wine" "$program" &
meter=$!
drive wait-window 60000 >/dev/null || fail "meter did not start"
uninstall_yes "$program" "Kelvra has been removed from your computer.

Files that were not installed by Kelvra have been left in the installation folder."
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
    README.TXT" 1
wait "$holder" || true
expect "only the held file left" "$(sed -e 's/^README.TXT absent$/README.TXT present/' -e 's/^directory absent$/directory present/' <<<"$removed_all")" "$(settled_state)"
