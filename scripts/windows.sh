#!/usr/bin/env bash
# The Windows program, made and checked here: installs what is missing,
# cross-builds tolvar.exe and the suites that need no browser with mingw-w64,
# runs those suites under Wine with the Chinese locale (a fresh Wine prefix
# under the build folder), packs dist/tolvar-3.0-win64.zip and starts the
# package on a clean Wine prefix of its own.
#
# It also runs tolvar.exe itself publishing to the studio simulator through
# Debian's Chromium (tests/wine: a relay stands in as its browser; the Linux
# helpers come from the normal build folder, build/); --no-e2e leaves that out.
#
# Usage: scripts/windows.sh [--no-tests] [--no-e2e] [--no-package]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

run_tests=1
run_e2e=1
make_package=1
for a in "$@"; do
  case $a in
    --no-tests) run_tests=0 ;;
    --e2e) run_e2e=1 ;;
    --no-e2e) run_e2e=0 ;;
    --no-package) make_package=0 ;;
    *) echo "usage: scripts/windows.sh [--no-tests] [--no-e2e] [--no-package]" >&2; exit 2 ;;
  esac
done

scripts/setup-debian.sh --windows
sdk=$(scripts/win-sdk.sh)
export TOLVAR_WIN_SDK=$sdk

build=$root/build-win
cmake --preset mingw-cross >/dev/null
cmake --build --preset mingw-cross

# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
wine_env_dlls "$sdk"

failed_any=0
if [ "$run_tests" = 1 ]; then
  wine_fresh_prefix "$build/wineprefix"
  wine_start_display
  total_pass=0
  total_fail=0
  failed_suites=()
  logs=$build/wine-logs
  rm -rf "$logs" && mkdir -p "$logs"
  # count_suite NAME RC LOG START: adds a suite's GoogleTest counts to the totals.
  count_suite() {
    local name=$1 rc=$2 log=$3 began=$4 pass fail status=ok
    pass=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
    fail=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
    pass=${pass:-0}
    fail=${fail:-0}
    if [ "$rc" -ne 0 ] && [ "$fail" = 0 ]; then
      fail=1 # it crashed or hung: count the suite as one failure
    fi
    total_pass=$((total_pass + pass))
    total_fail=$((total_fail + fail))
    if [ "$fail" != 0 ]; then
      status=FAILED
      failed_suites+=("$name")
      grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -40 >&2 || true
      tail -5 "$log" >&2
    fi
    printf 'wine: %-26s %3d passed, %d failed (%ds) %s\n' "$name" "$pass" "$fail" $((SECONDS - began)) "$status"
  }
  while IFS='=' read -r name exe; do
    [ -n "$name" ] || continue
    start=$SECONDS
    set +e
    (cd "$build" && timeout 600 wine "$exe" --gtest_color=no >"$logs/$name.log" 2>&1)
    rc=$?
    set -e
    count_suite "$name" "$rc" "$logs/$name.log" "$start"
  done < "$build/wine-tests.txt"
  if [ "$run_e2e" = 1 ]; then
    # tolvar.exe publishing under Wine: the simulator, the relay's Linux half
    # and the test itself are native programs of the normal build folder.
    native=$root/build
    if [ ! -f "$native/build.ninja" ]; then
      cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$native" -j2 --target wine_e2e_tests browser_relay_host studio-sim >/dev/null
    start=$SECONDS
    set +e
    TOLVAR_WIN_EXE=$build/app/tolvar.exe TOLVAR_RELAY_EXE=$build/tests/wine/browser_relay.exe \
      timeout 900 "$native/tests/wine/wine_e2e_tests" --gtest_color=no >"$logs/wine_e2e_tests.log" 2>&1
    rc=$?
    set -e
    count_suite wine_e2e_tests "$rc" "$logs/wine_e2e_tests.log" "$start"
  fi
  wine_stop
  echo "wine: $total_pass passed, $total_fail failed"
  if [ "$total_fail" != 0 ]; then
    echo "wine: failed suites: ${failed_suites[*]} (logs in $logs)" >&2
    failed_any=1
  fi
fi

if [ "$make_package" = 1 ]; then
  scripts/win-package.sh "$build" "$sdk"
  scripts/win-package-check.sh "$root/dist/tolvar-3.0-win64.zip" || failed_any=1
fi

exit "$failed_any"
