#!/usr/bin/env bash
# Builds the shipped files twice from clean clones of this commit, in
# directories of different names, in different time zones, once with the
# release date from the commit and once from SOURCE_DATE_EPOCH, and fails
# unless every byte of them is the same.
#   reproducible_build.sh SOURCE_DIR WORK
# Exit 77 (skipped) outside a git checkout.
set -euo pipefail
source_dir=$1 work=$2
commit=$(git -C "$source_dir" rev-parse HEAD 2>/dev/null) || { echo "*** SKIPPED: $source_dir is not a git checkout ***"; exit 77; }
if ! git -C "$source_dir" diff --quiet HEAD 2>/dev/null; then
  echo "note: uncommitted changes are not part of this check; it builds $commit"
fi
epoch=$(git -C "$source_dir" log -1 --format=%ct)

rm -rf "$work"
first=$work/a
second=$work/second-build/clone
build() {  # DIR TZ [SOURCE_DATE_EPOCH]
  local dir=$1 tz=$2
  git clone -q --no-hardlinks "$source_dir" "$dir"
  git -C "$dir" checkout -q --detach "$commit"
  (
    cd "$dir"
    unset SOURCE_DATE_EPOCH
    [ -z "${3:-}" ] || export SOURCE_DATE_EPOCH=$3
    export TZ=$tz
    cmake --preset win32 -DKELVRA_TESTS=OFF >/dev/null
    cmake --build --preset win32 -j2 --target kelvra_setup kelvra_winget >/dev/null
  )
}
build "$first" UTC0
build "$second" Asia/Tokyo "$epoch"

status=0
for file in KelvraSetup.exe KelvraSetupStub.exe product/KELVRA.EXE winget/KelvraSoftware.Kelvra.installer.yaml; do
  if cmp -s "$first/build/win32/$file" "$second/build/win32/$file"; then
    echo "same: $file $(sha256sum < "$first/build/win32/$file" | cut -c1-16)"
  else
    echo "DIFFERENT: $file"
    cmp -l "$first/build/win32/$file" "$second/build/win32/$file" | head -5 || true
    status=1
  fi
done
# Neither build's directory may show in what it ships.
for dir in "$first" "$second"; do
  if grep -q -a -F "$dir" "$dir/build/win32/KelvraSetup.exe"; then
    echo "KelvraSetup.exe holds its build path $dir"
    status=1
  fi
done
[ $status -ne 0 ] || rm -rf "$work"
exit $status
