#!/usr/bin/env bash
# Lets this machine run 32-bit x86 Linux programs (32-bit Wine among them) on a
# kernel that cannot: registers qemu-i386-static with binfmt_misc. Safe to run
# again. Exits 0 when i386 programs can run, non-zero with a loud message when
# registration is impossible (no root, no binfmt_misc, no emulator).
set -uo pipefail

emu=/usr/bin/qemu-i386-static
dir=/proc/sys/fs/binfmt_misc
name=qemu-i386

fail() {
  echo "i386-emulator: *** $* ***" >&2
  echo "i386-emulator: *** 32-bit programs (and the shipped PE32 setup under Wine) cannot run here ***" >&2
  exit 1
}

[ -x "$emu" ] || fail "$emu is missing (install qemu-user-static)"

if [ ! -e "$dir/register" ]; then
  [ "$(id -u)" -eq 0 ] || fail "binfmt_misc is not mounted and only root can mount it"
  mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || fail "cannot mount binfmt_misc at $dir"
fi
[ -e "$dir/status" ] && [ "$(cat "$dir/status")" = enabled ] || echo 1 >"$dir/status" 2>/dev/null || true

# Any registered handler for i386 will do, whatever its name: a second entry
# with the same magic would only shadow it.
registered() {
  local f
  for f in "$dir"/*; do
    case "$f" in */register|*/status) continue ;; esac
    [ -f "$f" ] || continue
    grep -q '^enabled' "$f" && grep -q 'qemu-i386' "$f" && return 0
  done
  return 1
}

if ! registered; then
  # ELF, 32-bit, little-endian, version 1, any OS ABI; e_type executable or
  # shared object (the mask drops the low bit); e_machine 3 (Intel 80386).
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  # F: the kernel opens the emulator now, so it works inside other mount
  # namespaces; P: keeps argv[0] as the program gave it.
  printf ':%s:M::%s:%s:%s:FP' "$name" "$magic" "$mask" "$emu" >"$dir/register" 2>/dev/null ||
    fail "the kernel refused to register $emu with binfmt_misc"
  registered || fail "registration of $emu did not take"
fi

# Proof, not faith: a 32-bit program must actually start.
if [ -x /usr/lib/wine/wine ]; then
  /usr/lib/wine/wine --version >/dev/null 2>&1 || fail "32-bit wine does not start even with the emulator registered"
elif [ -x /lib/ld-linux.so.2 ]; then
  /lib/ld-linux.so.2 --help >/dev/null 2>&1 || fail "the i386 loader does not start even with the emulator registered"
fi
echo "i386-emulator: $emu registered for i386 ELF"
