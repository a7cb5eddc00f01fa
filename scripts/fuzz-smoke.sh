#!/usr/bin/env bash
# A short fuzzing pass over every harness in tests/fuzz: configures a Clang
# build with MODBURN_FUZZ=ON, builds the harnesses, runs each for a bounded
# time from its committed corpus into a temporary one (the repository is not
# touched), prints the executions per harness, and fails on any finding.
#   MODBURN_FUZZ_BUILD_DIR   build folder (build-fuzz)
#   MODBURN_FUZZ_SECONDS     fuzzing time per harness (25)
#   MODBURN_FUZZ_PARALLEL    harnesses run at once (2)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang libclang-rt-14-dev

dir=${MODBURN_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${MODBURN_FUZZ_SECONDS:-25}
parallel=${MODBURN_FUZZ_PARALLEL:-2}
harnesses=(fuzz_receive fuzz_frames fuzz_session fuzz_run fuzz_image)
start=$SECONDS

# A folder configured earlier with another compiler starts afresh.
if [ -f "$dir/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' "$dir/CMakeCache.txt"; then
  rm -rf "$dir"
fi
mkdir -p "$dir"
log=$dir/fuzz-build.log
if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
         -DMODBURN_FUZZ=ON -DMODBURN_BUILD_TESTS=ON &&
       cmake --build "$dir" --parallel "$(nproc)" --target "${harnesses[@]}"; } >"$log" 2>&1; then
  grep -E -A3 'error|FAILED' "$log" | head -n 60 || tail -n 40 "$log"
  echo "fuzz-smoke: build of $dir failed (full output: $log)" >&2
  exit 1
fi
echo "fuzz-smoke: built ${harnesses[*]} in $dir [$((SECONDS - start))s]"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"

# One harness: the committed corpus is read, new inputs go to a scratch folder.
fuzz() {
  local h=$1
  mkdir -p "$work/$h/corpus" "$work/$h/artifacts"
  "$dir/tests/fuzz/$h" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/$h/artifacts/" "$work/$h/corpus" "tests/fuzz/corpus/$h" >"$work/$h/log" 2>&1
}

for h in "${harnesses[@]}"; do
  fuzz "$h" &
  # Keep at most $parallel running.
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
    wait -n || true
  done
done
wait || true

failed=0
total=0
for h in "${harnesses[@]}"; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$h/log" | tail -n 1)
  runs=${runs:-0}
  total=$((total + runs))
  if [ -n "$(ls -A "$work/$h/artifacts")" ] || ! grep -q '^Done ' "$work/$h/log"; then
    failed=1
    keep=$dir/fuzz-findings/$h
    mkdir -p "$keep"
    cp "$work/$h/artifacts/"* "$keep/" 2>/dev/null || true
    cp "$work/$h/log" "$keep/log"
    grep -E -A25 'check failed|ERROR|runtime error' "$work/$h/log" | head -n 60 || tail -n 40 "$work/$h/log"
    printf 'fuzz-smoke: %-13s FINDING after %s executions; input and log kept in %s\n' "$h" "$runs" "$keep" >&2
  else
    printf 'fuzz-smoke: %-13s %9s executions in %ss, no finding\n' "$h" "$runs" "$seconds"
  fi
done
echo "fuzz-smoke: $total executions in all [$((SECONDS - start))s]"
exit $failed
