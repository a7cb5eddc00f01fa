#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy, warnings as errors) over our own .cpp files in
# src/ and tools/, with the compile commands of a configured build folder.
# Usage: scripts/check-tidy.sh [build folder, default build]
# Prints one line per finding; the whole output is kept in <build>/clang-tidy.log.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=$(realpath "${1:-build}")

if [ ! -f "$build/compile_commands.json" ]; then
  echo "check-tidy: no $build/compile_commands.json; configure that build folder first" >&2
  exit 1
fi
log=$build/clang-tidy.log

status=0
if runner=$(command -v run-clang-tidy-14 || command -v run-clang-tidy); then
  "$runner" -p "$build" -j 2 -quiet "^$repo/(src|tools)/.*\.cpp\$" >"$log" 2>&1 || status=$?
else
  tidy=$(command -v clang-tidy-14 || command -v clang-tidy) || {
    echo "check-tidy: clang-tidy not found (bash scripts/deps.sh --checks)" >&2
    exit 1
  }
  find "$repo/src" "$repo/tools" -name '*.cpp' -print0 |
    xargs -0 -n 1 -P 2 "$tidy" -p "$build" --quiet >"$log" 2>&1 || status=$?
fi

# One line per finding, with headers named by their place in the repository
# rather than by their link in the build folder's include roots.
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/[^:]+:[0-9]+:[0-9]+: (warning|error): .*\]$' |
  while IFS= read -r line; do
    file=${line%%:*}
    real=$(realpath "$file" 2>/dev/null || echo "$file")
    echo "${real#"$repo"/}${line#"$file"}"
  done | sort -t: -k1,1 -k2,2n -k3,3n -u || true)

if [ "$status" -ne 0 ] || [ -n "$findings" ]; then
  if [ -n "$findings" ]; then
    echo "check-tidy: $(printf '%s\n' "$findings" | wc -l) findings (full output: $log):"
    printf '%s\n' "$findings" | sed 's/^/  /'
  else
    echo "check-tidy: clang-tidy failed (full output: $log):"
    tail -n 20 "$log"
  fi
  exit 1
fi
echo "check-tidy: clean"
