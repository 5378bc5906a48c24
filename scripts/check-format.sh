#!/usr/bin/env bash
# Fails when a tracked C++ file is not as clang-format (with the root
# .clang-format) would write it, naming the files. Fix with
#   git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null || { echo "check-format: clang-format is not installed" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp' '*.cc')
[ ${#files[@]} -gt 0 ] || { echo "check-format: no C++ files found (not a git checkout?)" >&2; exit 1; }
clang-format --dry-run -Werror "${files[@]}"
echo "check-format: ${#files[@]} files formatted"
