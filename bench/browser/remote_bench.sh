#!/usr/bin/env bash
# One evaluate's round trip on the pipe, over a debugging port and through a
# Selenium Grid on loopback, in one run. Usage: bench/browser/remote_bench.sh [BUILD_DIR] [CALLS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../../build}")
# shellcheck source=bench/grid.sh
source "$here/../grid.sh"
work=$(mktemp -d)
trap 'grid_stop; rm -rf "$work"' EXIT
flock /tmp/tolvar-build.lock cmake --build "$build" -j2 --target remote_bench >/dev/null
grid_start "$work/grid"
"$build/bench/browser/remote_bench" "$GRID_URL" "${2:-1000}"
