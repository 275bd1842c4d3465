#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal
# build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j2
  ctest --test-dir "$dir" --output-on-failure --timeout 900 -j2
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Qt keeps some allocations for the process lifetime; leak checks would only report those.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTOLVAR_SANITIZE=ON
echo "all tests passed"
