#!/usr/bin/env bash
# Packs a reproducible corpus of files from this machine with mksetup and
# with gzip, and prints side by side: packed size, extraction speed and
# packing time. Not a test: it asserts nothing, it reports.
#
#   bench/bench.sh [BUILD_DIR]      (default build/native; brought up to date first)
#
# The corpus is one tar of about 54 MB: text (Python and Perl sources) and
# binaries (shared libraries), chosen from sorted file lists, with fixed
# owners and times, so the same machine always gives the same bytes. mksetup packs the tar as one entry and gzip
# compresses the same tar, so both see identical input.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
work=$root/build/bench
mkdir -p "$work"

[ -f "$build/CMakeCache.txt" ] || cmake --preset native -B "$build" >/dev/null
cmake --build "$build" -j2 --target mksetup kelvra-extract >/dev/null

# Files up to the byte budget, in sorted order, skipping what is already
# compressed (gzip would only see noise there, and so would we).
pick() { # budget_bytes max_file_bytes paths...
  local budget=$1 max=$2
  shift 2
  { find "$@" -type f -size -"$max"c ! -name '*.gz' ! -name '*.xz' ! -name '*.bz2' ! -name '*.zst' \
    ! -name '*.zip' ! -name '*.png' ! -name '*.jpg' ! -name '*.pyc' -printf '%s\t%p\n' 2>/dev/null || true; } |
    LC_ALL=C sort -t "$(printf '\t')" -k2 | awk -F '\t' -v budget="$budget" 'total < budget { total += $1; print $2 }'
}

corpus=$work/corpus.tar
if [ ! -f "$corpus" ]; then
  {
    pick 26000000 2000000 /usr/lib/python3 /usr/share/perl /usr/share/perl5
    pick 26000000 4000000 /usr/lib/x86_64-linux-gnu
  } >"$work/corpus.list"
  tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --absolute-names \
    -cf "$corpus" --verbatim-files-from -T "$work/corpus.list"
fi
size=$(stat -c %s "$corpus")
files=$(wc -l <"$work/corpus.list")

# CPU seconds (user + system) the command took, the best of some runs:
# other work on the machine changes wall-clock times far more.
timed() {
  local runs=$1 best="" t
  shift
  for _ in $(seq "$runs"); do
    t=$({ TIMEFORMAT='%U %S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }')
    if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
  done
  echo "$best"
}

# The same for two commands taking turns, so that a slow spell of a shared
# machine weighs on both sides of a ratio alike. Prints "best_a best_b".
timed_in_turns() {
  local runs=$1 a="" b="" t
  shift 2
  local first=$1 second=$2
  for _ in $(seq "$runs"); do
    t=$(timed 1 sh -c "$first")
    if [ -z "$a" ] || awk "BEGIN { exit !($t < $a) }"; then a=$t; fi
    t=$(timed 1 sh -c "$second")
    if [ -z "$b" ] || awk "BEGIN { exit !($t < $b) }"; then b=$t; fi
  done
  echo "$a $b"
}

read -r pack_best gzip9 < <(timed_in_turns 1 -- "'$build/mksetup' -o '$work/best.arj' --method 1 '$corpus'" \
  "gzip -9c '$corpus' >'$work/corpus.tar.gz'")
read -r pack_fast gzip6 < <(timed_in_turns 3 -- "'$build/mksetup' -o '$work/fast.arj' --method 3 '$corpus'" \
  "gzip -6c '$corpus' >'$work/corpus6.gz'")

rm -rf "$work/out" && mkdir -p "$work/out"
read -r extract gunzip < <(timed_in_turns 7 -- "'$build/kelvra-extract' '$work/best.arj' '$work/out/'" \
  "gzip -dc '$work/corpus.tar.gz' >'$work/out/gunzip.tar'")
cmp -s "$corpus" "$work/out/corpus.tar" || { echo "bench: extracted corpus differs from the original" >&2; exit 1; }
# The fast level's output is checked too, untimed.
rm -rf "$work/out" && mkdir -p "$work/out"
"$build/kelvra-extract" "$work/fast.arj" "$work/out/" >/dev/null
cmp -s "$corpus" "$work/out/corpus.tar" || { echo "bench: fast level's corpus differs from the original" >&2; exit 1; }

best_size=$(stat -c %s "$work/best.arj")
fast_size=$(stat -c %s "$work/fast.arj")
gz6_size=$(stat -c %s "$work/corpus6.gz")
gz9_size=$(stat -c %s "$work/corpus.tar.gz")

ratio() { awk "BEGIN { printf \"%.3f\", $1 / $2 }"; }
mbps() { awk "BEGIN { printf \"%.1f\", $size / $1 / 1000000 }"; }

echo "corpus: $files files, $size bytes in one tar"
echo "size ratio, best level / gzip -9 (goal <= 0.96): $(ratio "$best_size" "$gz9_size")"
echo "size ratio, fast level / gzip -6 (goal <= 1.00): $(ratio "$fast_size" "$gz6_size")"
echo "extraction speed ratio, kelvra-extract / gzip -dc (goal >= 2.0): $(ratio "$gunzip" "$extract")"
echo "packing time ratio, best level / gzip -9: $(ratio "$pack_best" "$gzip9")"
echo "packing time ratio, fast level / gzip -6 (goal <= 1.00): $(ratio "$pack_fast" "$gzip6")"

table=$(cat <<TABLE
| corpus: $files files, $size bytes | ours | gzip | ratio |
|---|---|---|---|
| packed size, best level vs gzip -9 | $best_size | $gz9_size | $(ratio "$best_size" "$gz9_size") |
| packed size, fast level vs gzip -6 | $fast_size | $gz6_size | $(ratio "$fast_size" "$gz6_size") |
| extraction, MB per CPU second (kelvra-extract vs gzip -dc) | $(mbps "$extract") | $(mbps "$gunzip") | $(ratio "$gunzip" "$extract") |
| packing, CPU seconds, best level vs gzip -9 | $(printf '%.2f' "$pack_best") | $(printf '%.2f' "$gzip9") | $(ratio "$pack_best" "$gzip9") |
| packing, CPU seconds, fast level vs gzip -6 | $(printf '%.2f' "$pack_fast") | $(printf '%.2f' "$gzip6") | $(ratio "$pack_fast" "$gzip6") |
TABLE
)
echo
echo "$table"
{
  echo "# Benchmark results"
  echo
  echo "Measured by bench/bench.sh on $(date -u +%Y-%m-%d), $(nproc) cores."
  echo
  echo "$table"
  echo
  echo "The corpus is one tar of Python and Perl sources and shared libraries from"
  echo "this machine, picked from sorted file lists; mksetup packs it as one entry"
  echo "and gzip compresses the same tar. Best level is method 1, fast level method 3."
  echo "Times are CPU seconds (user + system), ours and gzip's taken in turns: the"
  echo "best of seven runs each for extraction, of three for the fast level;"
  echo "both extractors write the whole output to a file."
} >"$root/bench/RESULTS.md"
