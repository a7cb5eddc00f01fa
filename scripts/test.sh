#!/usr/bin/env bash
# Installs what is missing, then builds and checks everything, one step after
# another; each step prints a line or two, and a failing step fails the script
# with its errors shown:
#   GCC, RelWithDebInfo, warnings as errors: build and run every test    (build/)
#   Clang under AddressSanitizer, UndefinedBehaviorSanitizer and
#   LeakSanitizer, warnings as errors: build and run every test          (build-asan/)
#   libFuzzer under Clang: every harness for a bounded time             (build-fuzz/)
#   install into a temporary folder and check the installed tree
#   build the Debian package and check its contents and control fields
#   clang-format over our sources, clang-tidy over src/ and tools/
# MODBURN_BUILD_DIR and MODBURN_ASAN_BUILD_DIR put the two builds elsewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --checks --package

build=${MODBURN_BUILD_DIR:-build}
asan=${MODBURN_ASAN_BUILD_DIR:-build-asan}
start=$SECONDS

step() {
  printf '== %s [%ds]\n' "$*" $((SECONDS - start))
}

# scripts/build.sh with its output kept in <folder>/build.log; on failure the
# compiler's complaints are shown.
build_folder() {
  local dir=$1 log=$1/build.log
  shift
  mkdir -p "$dir"
  if ! bash scripts/build.sh "$dir" "$@" >"$log" 2>&1; then
    if grep -qE 'error|warning|FAILED' "$log"; then
      grep -E -A3 'error|warning|FAILED' "$log" | head -n 80 || true
    else
      tail -n 40 "$log"
    fi
    echo "build of $dir failed (full output: $log)" >&2
    return 1
  fi
  echo "built $dir"
}

# ctest with its output kept in <folder>/ctest.log; prints ctest's closing
# lines, or the failing tests' output. Further arguments go to ctest.
run_tests() {
  local dir=$1 timeout=$2 log=$1/ctest.log
  shift 2
  if ! (cd "$dir" && ctest --output-on-failure --timeout "$timeout" "$@") >"$log" 2>&1; then
    tail -n 120 "$log"
    echo "tests in $dir failed (full output: $log)" >&2
    return 1
  fi
  grep -E 'tests passed|Total Test time' "$log"
}

step "GCC build, RelWithDebInfo, warnings as errors ($build)"
build_folder "$build" -DMODBURN_SANITIZE=OFF -DMODBURN_BUILD_TESTS=ON -DMODBURN_WERROR=ON
run_tests "$build" 300

step "Clang build under ASan, UBSan and LSan ($asan)"
# A folder configured earlier with another compiler starts afresh.
if [ -f "$asan/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' "$asan/CMakeCache.txt"; then
  rm -rf "$asan"
fi
build_folder "$asan" -DCMAKE_CXX_COMPILER=clang++ -DMODBURN_SANITIZE=ON -DMODBURN_BUILD_TESTS=ON -DMODBURN_WERROR=ON
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
  # The rollout and its lint are about the playbook, which is the same in
  # both builds; the command-line tool the rollout runs is checked under the
  # sanitizers by its own tests.
  run_tests "$asan" 600 -E '^deploy\.'
)

step "Fuzz smoke"
bash scripts/fuzz-smoke.sh

step "Install check"
bash scripts/check-install.sh "$build"

step "Package check"
bash scripts/check-package.sh "$build"

step "Format check"
bash scripts/check-format.sh

step "clang-tidy check"
bash scripts/check-tidy.sh "$build"

step "All passed"
