#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again:
# it asks apt only for what is missing.
set -euo pipefail

want=(cmake ninja-build g++ googletest
      mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
      wine wine64 fonts-wine xvfb xauth xdotool imagemagick qemu-user-static clang clang-format libclang-rt-14-dev
      binfmt-support
      osslsigncode openssl python3-jsonschema python3-yaml
      libdeflate-tools zopfli)
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
# A mirror in the middle of a sync can fail one index; what the other
# indexes list is still installable, so a failed update only warns.
for try in 1 2 3; do
  $SUDO apt-get update -qq && break
  echo "bootstrap: apt-get update failed (try $try of 3)"
  sleep 5
done
# The 32-bit Wine packages go in a second step: while a mirror syncs, their
# versions can lag the 64-bit ones, and the rest must not wait on them.
main=() i386=()
for p in "${missing[@]}"; do
  case $p in *:i386) i386+=("$p") ;; *) main+=("$p") ;; esac
done
if [ ${#main[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${main[@]}" >/dev/null
  echo "bootstrap: installed ${main[*]}"
fi
if [ ${#i386[@]} -gt 0 ]; then
  if $SUDO apt-get install -y -qq --no-install-recommends "${i386[@]}" >/dev/null; then
    echo "bootstrap: installed ${i386[*]}"
  else
    # When the security archive's i386 index is missing (a mirror syncing),
    # its newer 64-bit libraries have no 32-bit twins of the same version and
    # apt gives up. The release's own suites alone list matching pairs.
    lists=$(mktemp -d)
    awk -v RS= -v ORS='\n\n' '!/debian-security/' /etc/apt/sources.list.d/debian.sources \
      >"$lists/release.sources" 2>/dev/null
    only=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$lists")
    if [ -s "$lists/release.sources" ] && $SUDO apt-get "${only[@]}" update -qq &&
      $SUDO apt-get "${only[@]}" install -y -qq --no-install-recommends "${i386[@]}" >/dev/null; then
      echo "bootstrap: installed ${i386[*]} from the release's suites"
    else
      echo "bootstrap: *** cannot install ${i386[*]}: 32-bit Wine is missing ***"
    fi
    $SUDO apt-get update -qq || true
    rm -rf "$lists"
  fi
  # apt may have taken 64-bit packages out to fit the 32-bit ones (64-bit
  # Wine among them): they go back in, at the versions that fit.
  gone=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || gone+=("$p")
  done
  if [ ${#gone[@]} -gt 0 ]; then
    if $SUDO apt-get install -y -qq --no-install-recommends "${gone[@]}" >/dev/null; then
      echo "bootstrap: installed again ${gone[*]}"
    else
      echo "bootstrap: *** cannot install ${gone[*]} ***"
    fi
  fi
fi
