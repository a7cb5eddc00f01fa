#!/usr/bin/env bash
# Fails, listing them, when clang-format would change any of our own C++
# sources (src, tests, tools, bench). Fix with: clang-format -i <files>
set -euo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format) || {
  echo "check-format: clang-format not found (bash scripts/deps.sh --checks)" >&2
  exit 1
}

changed=()
lines=0
while IFS= read -r -d '' file; do
  # Lines removed plus lines added.
  n=$("$format" --style=file "$file" | diff "$file" - | grep -c '^[<>]' || true)
  if [ "$n" -gt 0 ]; then
    changed+=("$file ($n lines)")
    lines=$((lines + n))
  fi
done < <(find src tests tools bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

if [ ${#changed[@]} -gt 0 ]; then
  echo "check-format: clang-format would change ${#changed[@]} files, $lines lines:"
  printf '  %s\n' "${changed[@]}"
  exit 1
fi
echo "check-format: clean"
