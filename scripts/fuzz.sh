#!/usr/bin/env bash
# Fuzzes the extractor and the packer with libFuzzer (clang, ASan, UBSan).
#
#   scripts/fuzz.sh --short          30 seconds per run (the test suite's)
#   scripts/fuzz.sh --long SECONDS   a long run of each target
#   scripts/fuzz.sh --merge          minimise what the runs found into fuzz/corpus/
#   scripts/fuzz.sh --coverage       line coverage of extract/ by the committed corpus
#
# Seeds: the committed corpus, archives made by mksetup, and the archives
# of other archivers in ../shared/fixtures (read from there, never copied).
# Any crash, leak, hang or sanitizer report leaves its input under
# build/fuzz/artifacts/ and fails the run; copy it into fuzz/regressions/
# once fixed, where the replay tests keep it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:---short}
case "$mode" in
  --short) seconds=30 ;;
  --long) seconds=${2:?give the seconds per target} ;;
  --merge) seconds=0 ;;
  --coverage) seconds=0 ;;
  *) echo "usage: scripts/fuzz.sh --short | --long SECONDS | --merge | --coverage" >&2; exit 2 ;;
esac

if [ "$mode" = --coverage ]; then
  # The replay programs built with clang's source coverage, run over the
  # committed corpus and regressions.
  cov=$root/build/fuzz-coverage
  cmake -S . -B "$cov" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" -DKELVRA_TEST_PARTS=extract >/dev/null
  cmake --build "$cov" -j2 --target fuzz_extract_replay fuzz_decode_replay fuzz_roundtrip_replay >/dev/null
  rm -f "$cov"/*.profraw
  for t in extract decode roundtrip; do
    LLVM_PROFILE_FILE="$cov/$t.profraw" "$cov/fuzz/fuzz_${t}_replay" "fuzz/corpus/$t" "fuzz/regressions/$t" >/dev/null
  done
  llvm-profdata merge -o "$cov/all.profdata" "$cov"/*.profraw
  llvm-cov report "$cov/fuzz/fuzz_extract_replay" -object "$cov/fuzz/fuzz_decode_replay" \
    -object "$cov/fuzz/fuzz_roundtrip_replay" -instr-profile="$cov/all.profdata" "$root/extract"
  exit 0
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null
bin=$root/build/fuzz/fuzz
work=$root/build/fuzz/work
artifacts=$root/build/fuzz/artifacts
seeds=$root/build/fuzz/seeds
fixtures=$root/../shared/fixtures
mkdir -p "$work" "$artifacts" "$seeds"
rm -f "$artifacts"/*

targets=(extract decode roundtrip)
for t in "${targets[@]}"; do mkdir -p "$work/$t" "$seeds/$t"; done

# Seeds made by our own packer: small setup files, entries in the decode
# harness's layout, and plain bytes for the round trip.
if [ -z "$(ls -A "$seeds/extract")" ]; then
  printf 'Kelvra\r\nreads the rate\r\n' >"$seeds/text.txt"
  head -c 3000 /usr/bin/cmake >"$seeds/binary.bin"
  seq 1 400 >"$seeds/numbers.txt"
  head -c 70000 /dev/zero >"$seeds/zeros.bin"
  "$root/build/fuzz/mksetup" -o "$seeds/extract/small.bin" --text "$seeds/text.txt" "$seeds/binary.bin" >/dev/null
  "$root/build/fuzz/mksetup" -o "$seeds/extract/runs.bin" --method 3 "$seeds/numbers.txt" "$seeds/zeros.bin" >/dev/null
  python3 - "$seeds" <<'PY'
import struct, sys, os
seeds = sys.argv[1]
def entries(archive):
    """(fileSize, compressed bytes) of each entry of a bare archive."""
    pos, first = 0, True
    while True:
        hid, size = struct.unpack_from('<HH', archive, pos)
        if size == 0:
            return
        basic = archive[pos + 4:pos + 4 + size]
        pos += 4 + size + 4
        ext, = struct.unpack_from('<H', archive, pos)
        pos += 2
        if first:
            first = False
            continue
        csize, fsize = struct.unpack_from('<II', basic, 12)
        yield fsize, archive[pos:pos + csize]
        pos += csize
for name in ('small.bin', 'runs.bin'):
    data = open(os.path.join(seeds, 'extract', name), 'rb').read()
    for i, (fsize, comp) in enumerate(entries(data)):
        head = bytes([0, fsize & 0xFF, (fsize >> 8) & 0xFF, (fsize >> 16) & 0xFF, 0, 0])
        open(os.path.join(seeds, 'decode', '%s.%d' % (name, i)), 'wb').write(head + comp)
for name in ('text.txt', 'binary.bin', 'numbers.txt'):
    data = open(os.path.join(seeds, name), 'rb').read()
    for level in range(3):
        open(os.path.join(seeds, 'roundtrip', '%s.%d' % (name, level)), 'wb').write(bytes([level]) + data)
PY
fi

if [ "$mode" = --merge ]; then
  for t in "${targets[@]}"; do
    mkdir -p "fuzz/corpus/$t.new"
    mkdir -p "fuzz/corpus/$t"
    "$bin/fuzz_$t" -merge=1 "fuzz/corpus/$t.new" "fuzz/corpus/$t" "$work/$t" "$seeds/$t" 2>&1 | tail -1
    rm -rf "fuzz/corpus/$t" && mv "fuzz/corpus/$t.new" "fuzz/corpus/$t"
  done
  exit 0
fi

failed=0
run() { # name target work-dir seed-dirs...
  local name=$1 t=$2 dir=$3
  shift 3
  mkdir -p "$dir"
  # Git keeps no empty folders: a target without regressions has none.
  local committed=()
  for d in "fuzz/corpus/$t" "fuzz/regressions/$t"; do [ -d "$d" ] && committed+=("$d"); done
  echo "fuzz: $name for ${seconds}s"
  if ! "$bin/fuzz_$t" "$dir" "${committed[@]}" "$@" \
      -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$artifacts/$t-" -print_final_stats=1 >"$dir.log" 2>&1; then
    echo "fuzz: $name FAILED, see $dir.log and $artifacts"
    failed=1
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$dir.log" | tr -s ' \n' ' '
  grep -E 'cov: [0-9]+' -o "$dir.log" | tail -1
}

for t in "${targets[@]}"; do run "$t" "$t" "$work/$t" "$seeds/$t"; done
# The other archivers' archives seed a run of their own, whose finds are
# never merged into the committed corpus: those files stay in ../shared.
if [ -d "$fixtures" ]; then
  run "extract, seeded with the fixtures" extract "$root/build/fuzz/fixture-work" "$fixtures"
fi
exit $failed
