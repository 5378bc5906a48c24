#!/usr/bin/env bash
# Packs two reproducible corpora of files from this machine with mksetup, with
# gzip and with two other deflate tools (libdeflate-gzip, zopfli), and prints
# side by side: packed size, extraction speed and packing time, each ratio
# with its goal. Not a test: it asserts nothing, it reports.
#
#   bench/bench.sh [BUILD_DIR]      (default build/native; brought up to date first)
#
# BENCH_NO_ZOPFLI=1 leaves zopfli out: it takes about as long as everything
# else together, which a loaded machine may not have to spare.
#
# A BUILD_DIR without a CMakeCache.txt but with mksetup and kelvra-extract
# (say, copies kept from an earlier build) is used as it is.
#
# Corpus "mixed" is one tar of about 54 MB: text (Python and Perl sources) and
# binaries (shared libraries). Corpus "binaries" is one tar of about 35 MB of
# large executables and shared libraries, ELF and PE. Both are chosen from
# sorted file lists, with fixed owners and times, so the same machine always
# gives the same bytes. mksetup packs each tar as one entry and every other
# tool compresses the same tar, so all see identical input.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
work=$root/build/bench
mkdir -p "$work"

if [ -f "$build/CMakeCache.txt" ] || [ ! -x "$build/mksetup" ] || [ ! -x "$build/kelvra-extract" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake --preset native -B "$build" >/dev/null
  cmake --build "$build" -j2 --target mksetup kelvra-extract >/dev/null
fi
zopfli_run="zopfli --i5 -c"
[ "${BENCH_NO_ZOPFLI:-0}" = 1 ] && zopfli_run=": skipped"
for tool in gzip libdeflate-gzip libdeflate-gunzip ${zopfli_run%% *}; do
  [ "$tool" = : ] && continue
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
done

# Files named like pattern up to the byte budget, in sorted order, from
# min_file_bytes up to max_file_bytes, skipping what is already compressed
# (every tool would only see noise there).
pick() { # budget_bytes min_file_bytes max_file_bytes pattern paths...
  local budget=$1 min=$2 max=$3 pattern=$4
  shift 4
  { find "$@" -type f -name "$pattern" -size +"$min"c -size -"$max"c ! -name '*.gz' ! -name '*.xz' ! -name '*.bz2' ! -name '*.zst' \
    ! -name '*.zip' ! -name '*.png' ! -name '*.jpg' ! -name '*.pyc' -printf '%s\t%p\n' 2>/dev/null || true; } |
    LC_ALL=C sort -t "$(printf '\t')" -k2 | awk -F '\t' -v budget="$budget" 'total < budget { total += $1; print $2 }'
}

make_tar() { # name, then the file list on stdin
  local name=$1
  if [ -f "$work/$name.tar" ]; then
    cat >/dev/null # the pickers must not die of a closed pipe
    return
  fi
  cat >"$work/$name.list"
  tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner --absolute-names \
    -cf "$work/$name.tar" --verbatim-files-from -T "$work/$name.list"
}

{
  pick 26000000 0 2000000 '*' /usr/lib/python3 /usr/share/perl /usr/share/perl5
  pick 26000000 0 4000000 '*' /usr/lib/x86_64-linux-gnu
} | make_tar mixed
{
  pick 16000000 500000 8000000 '*' /usr/lib/x86_64-linux-gnu
  pick 8000000 500000 8000000 '*' /usr/bin
  pick 8000000 100000 8000000 '*.[de][lx][le]' /usr/lib/gcc/i686-w64-mingw32 /usr/lib/gcc/x86_64-w64-mingw32 \
    /usr/i686-w64-mingw32/lib /usr/x86_64-w64-mingw32/lib /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
} | make_tar binaries

# CPU seconds of one run of a shell command: user + system, then user alone.
cpu() {
  { TIMEFORMAT='%U %S'; time sh -c "$1" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2, $1 }'
}

# Runs the commands in turns, runs rounds, so that a slow spell of a shared
# machine weighs on every side of a ratio alike; prints the best CPU time
# (user + system) of each command, in order, then the best user time of each.
in_turns() { # runs command...
  local runs=$1 i t u
  shift
  local -a best=() user=()
  for _ in $(seq "$runs"); do
    for i in $(seq 0 $(($# - 1))); do
      read -r t u < <(cpu "${@:$((i + 1)):1}")
      if [ -z "${best[$i]:-}" ] || awk "BEGIN { exit !($t < ${best[$i]}) }"; then best[$i]=$t; fi
      if [ -z "${user[$i]:-}" ] || awk "BEGIN { exit !($u < ${user[$i]}) }"; then user[$i]=$u; fi
    done
  done
  echo "${best[*]} ${user[*]}"
}

ratio() { awk "BEGIN { printf \"%.3f\", $1 / $2 }"; }
sizeof() { stat -c %s "$1"; }

tables=""
bench_corpus() { # name
  local name=$1 tar=$work/$1.tar o=$work/$1
  local size files
  size=$(sizeof "$tar")
  files=$(wc -l <"$work/$name.list")
  mkdir -p "$o"

  local m1 g9 l12 z5 m3 g6 l6 ex gz ld exu gzu ldu
  read -r m1 g9 l12 z5 _ < <(in_turns 1 "'$build/mksetup' -o '$o/best.arj' --method 1 '$tar'" \
    "gzip -9c '$tar' >'$o/gzip9.gz'" "libdeflate-gzip -12 -c '$tar' >'$o/ld12.gz'" \
    "$zopfli_run '$tar' >'$o/zopfli.gz'")
  read -r m3 g6 l6 _ < <(in_turns 3 "'$build/mksetup' -o '$o/fast.arj' --method 3 '$tar'" \
    "gzip -6c '$tar' >'$o/gzip6.gz'" "libdeflate-gzip -6 -c '$tar' >'$o/ld6.gz'")

  rm -rf "$o/out" && mkdir -p "$o/out"
  read -r ex gz ld exu gzu ldu < <(in_turns 5 "'$build/kelvra-extract' '$o/best.arj' '$o/out/'" \
    "gzip -dc '$o/gzip9.gz' >'$o/out/gunzip.tar'" "libdeflate-gunzip -c '$o/ld12.gz' >'$o/out/ldgunzip.tar'")
  cmp -s "$tar" "$o/out/$name.tar" || { echo "bench: extracted $name corpus differs from the original" >&2; exit 1; }
  # The fast level's output is checked too, untimed.
  rm -rf "$o/out" && mkdir -p "$o/out"
  "$build/kelvra-extract" "$o/fast.arj" "$o/out/" >/dev/null
  cmp -s "$tar" "$o/out/$name.tar" || { echo "bench: fast level's $name corpus differs from the original" >&2; exit 1; }

  local sb sf s9 s6 s12 sz sl6
  sb=$(sizeof "$o/best.arj") sf=$(sizeof "$o/fast.arj") s9=$(sizeof "$o/gzip9.gz") s6=$(sizeof "$o/gzip6.gz")
  s12=$(sizeof "$o/ld12.gz") sz=$(sizeof "$o/zopfli.gz") sl6=$(sizeof "$o/ld6.gz")
  mbps() { awk "BEGIN { printf \"%.1f\", $size / $1 / 1000000 }"; }
  local table
  table=$(cat <<TABLE
| $name: $files files, $size bytes | value | gzip | ratio | goal |
|---|---|---|---|---|
| best level (method 1), bytes | $sb | $s9 (-9) | $(ratio "$sb" "$s9") | <= 0.960 |
| libdeflate-gzip -12, bytes | $s12 | $s9 (-9) | $(ratio "$s12" "$s9") | |
| zopfli --i5, bytes | $sz | $s9 (-9) | $(ratio "$sz" "$s9") | |
| best level, CPU seconds | $(printf '%.2f' "$m1") | $(printf '%.2f' "$g9") (-9) | $(ratio "$m1" "$g9") | <= 2.00 |
| libdeflate-gzip -12, CPU seconds | $(printf '%.2f' "$l12") | $(printf '%.2f' "$g9") (-9) | $(ratio "$l12" "$g9") | |
| zopfli --i5, CPU seconds | $(printf '%.2f' "$z5") | $(printf '%.2f' "$g9") (-9) | $(ratio "$z5" "$g9") | |
| fast level (method 3), bytes | $sf | $s6 (-6) | $(ratio "$sf" "$s6") | <= 0.990 |
| libdeflate-gzip -6, bytes | $sl6 | $s6 (-6) | $(ratio "$sl6" "$s6") | |
| fast level, CPU seconds | $(printf '%.2f' "$m3") | $(printf '%.2f' "$g6") (-6) | $(ratio "$m3" "$g6") | <= 0.35 |
| libdeflate-gzip -6, CPU seconds | $(printf '%.2f' "$l6") | $(printf '%.2f' "$g6") (-6) | $(ratio "$l6" "$g6") | |
| extraction, MB per CPU second, kelvra-extract | $(mbps "$ex") | $(mbps "$gz") (-dc) | $(ratio "$gz" "$ex") | |
| extraction, MB per CPU second, libdeflate-gunzip | $(mbps "$ld") | $(mbps "$gz") (-dc) | $(ratio "$gz" "$ld") | |
| extraction speed, kelvra-extract / libdeflate-gunzip | | | $(ratio "$ld" "$ex") | >= 1.00 |
| extraction, user CPU seconds alone, kelvra-extract | $(printf '%.3f' "$exu") | $(printf '%.3f' "$gzu") (-dc) | $(ratio "$gzu" "$exu") | |
| extraction, user CPU seconds alone, libdeflate-gunzip | $(printf '%.3f' "$ldu") | $(printf '%.3f' "$gzu") (-dc) | $(ratio "$gzu" "$ldu") | |
TABLE
)
  [ "$zopfli_run" = "zopfli --i5 -c" ] || table=$(grep -v zopfli <<<"$table")
  echo "$table"
  echo
  tables+="$table"$'\n\n'
}

load=$(cut -d ' ' -f 1-3 /proc/loadavg)
bench_corpus mixed
bench_corpus binaries
load="$load, at the end $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "load average at the start $load"

{
  echo "# Benchmark results"
  echo
  echo "Measured by bench/bench.sh on $(date -u +%Y-%m-%d), $(nproc) cores, load average at the start $load."
  echo
  printf '%s' "$tables"
  echo "\"mixed\" is one tar of Python and Perl sources and shared libraries from this"
  echo "machine; \"binaries\" one tar of large ELF executables and shared libraries and"
  echo "PE DLLs; both picked from sorted file lists. mksetup packs each tar as one"
  echo "entry and every other tool compresses the same tar. Best level is method 1,"
  echo "fast level method 3. Times are CPU seconds (user + system), all tools of a"
  echo "row group taken in turns: one run each for the best levels, the best of three"
  echo "for the fast levels, of five for extraction; every extractor writes the whole"
  echo "output to a file. Speed ratios above 1.00 are faster than gzip -dc. The"
  echo "user-time rows leave out the system's share: libdeflate-gunzip holds the"
  echo "whole output in fresh memory, and page faults are dear on some virtual"
  echo "machines."
  [ "$zopfli_run" = "zopfli --i5 -c" ] || echo "This run left zopfli out (BENCH_NO_ZOPFLI=1)."
} >"$root/bench/RESULTS.md"
