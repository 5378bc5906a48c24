#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# it asks apt only for what is missing.
set -euo pipefail

want=(cmake ninja-build g++ googletest
      mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
      wine wine64 fonts-wine xvfb xauth xdotool imagemagick qemu-user-static clang clang-format libclang-rt-14-dev
      binfmt-support
      osslsigncode openssl python3-jsonschema python3-yaml)
want_i386=(wine32:i386)

missing=()
for p in "${want[@]}" "${want_i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "bootstrap: installed ${missing[*]}"
