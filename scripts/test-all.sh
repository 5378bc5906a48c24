#!/usr/bin/env bash
# The whole test suite, from a fresh machine: installs what is missing,
# checks the C++ formatting, builds every preset and runs every test.
# Native unit tests (with the archives of other archivers as input), the
# same under AddressSanitizer and UndefinedBehaviorSanitizer, short fuzz
# runs, the Windows builds' tests under 64-bit Wine, the end-to-end runs of
# the real setup, and the shipped 32-bit setup where 32-bit Wine can run.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/bootstrap.sh || { echo "test-all: cannot install the packages the build needs"; exit 1; }
if ! bash scripts/i386-emulator.sh; then
  echo "test-all: *** 32-bit Wine cannot run here: the shipped PE32 setup's run will be SKIPPED ***"
fi

# One Wine prefix for every Windows test program of this run, in the one
# Wine environment of the tree.
export KELVRA_WINEPREFIX=$root/build/wineprefix
source scripts/wine-env.sh

# The end-to-end runs make one template prefix of their own (the other
# Windows tests write into the shared one) and copy it per scenario.
export KELVRA_E2E_TEMPLATE=$root/build/e2e-template
rm -rf "$KELVRA_E2E_TEMPLATE" "$KELVRA_E2E_TEMPLATE.lock"

failed=()
step() {
  local name=$1
  shift
  echo "==== $name"
  local start=$SECONDS
  if "$@"; then
    echo "==== $name: ok ($((SECONDS - start)) s)"
  else
    echo "==== $name: FAILED ($((SECONDS - start)) s)"
    failed+=("$name")
  fi
}

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2; }

# Seconds, and independent of every build: formatting first.
step "format (clang-format)" bash scripts/check-format.sh
step "build native" build native
step "test native" ctest --preset native -j2
step "build sanitize" build sanitize
step "test sanitize" ctest --preset sanitize -j2 -LE slow
step "fuzz (short runs)" bash scripts/fuzz.sh --short
step "build win64" build win64
# The dialog and painting tests need a display; each end-to-end scenario
# starts an Xvfb of its own.
step "test win64 (64-bit Wine)" xvfb-run -a ctest --preset win64
step "build win32" build win32
# Under emulated 32-bit Wine every start costs a minute or more: the unit
# tests ran under 64-bit Wine already, so here the shipped file itself is
# checked (its imports, and an install as a user would run it), with the
# release checks: version resources, stub size, package manifest and a
# repeated build compared byte for byte.
step "test win32 (32-bit Wine)" xvfb-run -a ctest --preset win32 -R 'setup_stub_imports|e2e|release'

echo
if [ ${#failed[@]} -eq 0 ]; then
  echo "test-all: every step passed"
  exit 0
fi
echo "test-all: FAILED: ${failed[*]}"
exit 1
