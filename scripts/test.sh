#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain build
# and once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

bash scripts/build.sh build -DMODBURN_SANITIZE=OFF -DMODBURN_BUILD_TESTS=ON
(cd build && ctest --output-on-failure --timeout 300)

bash scripts/build.sh build-asan -DMODBURN_SANITIZE=ON -DMODBURN_BUILD_TESTS=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
(cd build-asan && ctest --output-on-failure --timeout 600)
