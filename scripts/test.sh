#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal
# build and once under AddressSanitizer and UndefinedBehaviorSanitizer; the
# lanes and browser connection suites also under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-debian.sh

# run_suite DIR [CMAKE_OPTIONS...] [-- TARGETS...]: configures DIR, builds
# everything (or only TARGETS) and runs the tests that were built.
run_suite() {
  local dir=$1; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift && targets=("$@")
  cmake -S . -B "$dir" -G Ninja "${options[@]}"
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j2 --target "${targets[@]}"
    # The suites not built here are listed by CTest as <target>_NOT_BUILT.
    ctest --test-dir "$dir" --output-on-failure --timeout 900 -j2 -E '_NOT_BUILT$'
  else
    cmake --build "$dir" -j2
    ctest --test-dir "$dir" --output-on-failure --timeout 900 -j2
  fi
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Qt keeps some allocations for the process lifetime; leak checks would only report those.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTOLVAR_SANITIZE=ON
# Several lanes mean several threads: the lanes suite and the browser
# connection suite once more under ThreadSanitizer, in a third, small build of
# just those two (and the simulator they start). The suppressions file names
# the Qt and C library internals it hides, each with its reason.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp" run_suite build-tsan \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVAR_TSAN=ON -- upload_lanes_tests browser_cdp_tests
echo "all tests passed"
