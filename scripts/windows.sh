#!/usr/bin/env bash
# The Windows program, made and checked here: installs what is missing,
# cross-builds tolvar.exe and the suites that need no browser with mingw-w64,
# runs those suites under Wine with the Chinese locale (a fresh Wine prefix
# under the build folder), packs dist/tolvar-3.0-win64.zip and starts the
# package on a clean Wine prefix of its own.
#
# Usage: scripts/windows.sh [--no-tests] [--no-package]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

run_tests=1
make_package=1
for a in "$@"; do
  case $a in
    --no-tests) run_tests=0 ;;
    --no-package) make_package=0 ;;
    *) echo "usage: scripts/windows.sh [--no-tests] [--no-package]" >&2; exit 2 ;;
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
  while IFS='=' read -r name exe; do
    [ -n "$name" ] || continue
    start=$SECONDS
    set +e
    (cd "$build" && timeout 600 wine "$exe" --gtest_color=no >"$logs/$name.log" 2>&1)
    rc=$?
    set -e
    pass=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$logs/$name.log" | tail -1)
    fail=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$logs/$name.log" | tail -1)
    pass=${pass:-0}
    fail=${fail:-0}
    if [ "$rc" -ne 0 ] && [ "$fail" = 0 ]; then
      fail=1 # it crashed or hung: count the suite as one failure
    fi
    total_pass=$((total_pass + pass))
    total_fail=$((total_fail + fail))
    status=ok
    if [ "$fail" != 0 ]; then
      status=FAILED
      failed_suites+=("$name")
      grep -E '^\[  FAILED  \]|Failure|error' "$logs/$name.log" | head -40 >&2 || true
      tail -5 "$logs/$name.log" >&2
    fi
    printf 'wine: %-26s %3d passed, %d failed (%ds) %s\n' "$name" "$pass" "$fail" $((SECONDS - start)) "$status"
  done < "$build/wine-tests.txt"
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
