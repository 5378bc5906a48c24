#!/usr/bin/env bash
# The real setup file, then the uninstall command it registered: afterwards
# the prefix's files (outside the Windows directory and the temporary files)
# and its uninstall entries are exactly what they were before the install.
# Extra argument: KelvraSetup.exe.
source "$(dirname "$0")/wine-common.sh"
setup=$4

uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print |
     grep -v -i -E '/temp(/|$)|/AppData/Local/Microsoft|\.log$' | sort)
  rm -f "$work/uninstall.reg"
  timeout 120 "$wine" reg export "$uninstall_root" 'Z:'"$work/uninstall.reg" /reg:32 /y >/dev/null 2>&1 || true
  [ -f "$work/uninstall.reg" ] && iconv -f UTF-16 -t UTF-8 "$work/uninstall.reg" | tr -d '\r' | grep -v '^$'
  true
}

# What a run cut short may have left, so that "before" means never installed.
timeout 120 "$wine" reg delete "$uninstall_root\\Kelvra" /reg:32 /f >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX/drive_c/Program Files/Kelvra" \
       "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs/Kelvra \
       "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvra"

# The Programs folder exists on a used machine; make sure it does here too.
drive state 'C:\nowhere' >/dev/null
before=$(snapshot)

timeout 300 "$wine" "$setup" &
setup_process=$!
drive press "$setup_title" 1 60000 >/dev/null || fail "no setup dialog"
expect "setup result" "Kelvra has been successfully installed." "$(drive press "Kelvra Setup" 1 120000)"
wait "$setup_process" || fail "setup exited with $?"
expect "meter started" "meter window 360x214" "$(drive wait-window 60000)"
installed=$(snapshot)
grep -q 'Program Files/Kelvra/KELVRA.EXE$' <<<"$installed" || fail "nothing installed: $installed"

command=$(timeout 120 "$wine" reg query "$uninstall_root\\Kelvra" /v UninstallString /reg:32 | tr -d '\r' |
          sed -n 's/.*UninstallString *REG_SZ *//p')
expect "uninstall command" '"C:\Program Files\Kelvra\KELVRA.EXE" /UNINSTALL' "$command"
program=${command%\" /UNINSTALL}
program=${program#\"}
uninstall_yes "$program" "Kelvra has been removed from your computer."
expect "meter closed" "0" "$(drive count)"

# The cleanup helper finishes after the uninstaller; give it a bounded while.
for _ in $(seq 60); do
  after=$(snapshot)
  [ "$after" = "$before" ] && break
  sleep 0.5
done
expect "prefix as before the install" "$before" "$after"

# The same round as a deployment tool runs it: the silent install, then the
# quiet uninstall command read back from the entry. The user's own file
# stays; everything else is as before.
timeout 300 "$wine" "$setup" /S || fail "silent setup exited with $?"
expect "program not started by a silent install" "0" "$(drive count)"
# Wine keeps no descriptor on disk and shows one made from the Unix mode,
# owned by the running account; the setup's descriptor shows as a folder
# without rights for Everyone, where one made with inherited rights, like
# Program Files here, gives Everyone read access.
folder_acl=$(drive security 'C:\Program Files\Kelvra')
echo "$folder_acl"
grep -q ';WD)' <<<"$(drive security 'C:\Program Files')" || fail "Program Files shows no entry for Everyone"
grep -q ';WD)' <<<"$folder_acl" && fail "the new folder gives Everyone rights: $folder_acl"
echo "ok: the install folder was created with the setup's descriptor"
quiet=$(timeout 120 "$wine" reg query "$uninstall_root\\Kelvra" /v QuietUninstallString /reg:32 | tr -d '\r' |
        sed -n 's/.*QuietUninstallString *REG_SZ *//p')
expect "quiet uninstall command" '"C:\Program Files\Kelvra\KELVRA.EXE" /UNINSTALL /S' "$quiet"
echo "my notes" >"$WINEPREFIX/drive_c/Program Files/Kelvra/NOTES.TXT"
# As CreateProcess reads it: the quoted program, then its arguments.
quiet_program=${quiet#\"}
quiet_program=${quiet_program%%\"*}
read -r -a quiet_arguments <<<"${quiet##*\" }"
code=0
timeout 120 "$wine" "$quiet_program" "${quiet_arguments[@]}" || code=$?
expect "quiet uninstall's exit code" "0" "$code"
kept=$(printf '%s\n' "$before" './Program Files/Kelvra' './Program Files/Kelvra/NOTES.TXT' | LC_ALL=C sort)
for _ in $(seq 60); do
  after=$(snapshot | LC_ALL=C sort)
  [ "$after" = "$kept" ] && break
  sleep 0.5
done
expect "prefix as before but for the user's file" "$kept" "$after"

# A folder that others may change (world-writable here, which Wine shows as
# full rights for Everyone) is refused; once it holds the registered
# installation it is repaired instead, and the setup installs into it.
open_dir="$WINEPREFIX/drive_c/Open Folder"
rm -rf "$open_dir"
mkdir "$open_dir"
chmod 777 "$open_dir"
code=0
timeout 300 "$wine" "$setup" /S "/LOG=Z:$work/open.log" '/D=C:\Open Folder' || code=$?
expect "refusal's exit code (1603, as the shell keeps it)" "$((1603 & 255))" "$code"
grep -q 'folder refused: C:\\Open Folder: other users may change it' "$work/open.log" || fail "$(cat "$work/open.log")"
[ ! -e "$open_dir/KELVRA.EXE" ] || fail "installed into a folder others may change"
timeout 120 "$wine" reg add "$uninstall_root\\Kelvra" /v InstallLocation /d 'C:\Open Folder' /reg:32 /f >/dev/null
timeout 300 "$wine" "$setup" /S "/LOG=Z:$work/open.log" '/D=C:\Open Folder' || fail "setup into the registered folder exited with $?"
grep -q 'folder repaired: C:\\Open Folder' "$work/open.log" || fail "$(cat "$work/open.log")"
grep -q ';WD)' <<<"$(drive security 'C:\Open Folder')" && fail "the repaired folder still lets Everyone in"
echo "ok: the registered folder repaired and installed into"
timeout 120 "$wine" 'C:\Open Folder\KELVRA.EXE' /UNINSTALL /S || fail "uninstall from the repaired folder exited with $?"
rm -f "$work/open.log"
