#!/usr/bin/env bash
# Builds the browser benchmark, installs its puppeteer-core anchor (no browser
# download: it drives the system Chromium) and runs both in one go.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build-browser}"
browser="${BROWSER:-/usr/bin/chromium}"

# Debian's nodejs comes without npm; only this benchmark needs it.
if ! command -v npm >/dev/null; then
  apt-get install -y --no-install-recommends npm
fi
(cd "$here" && PUPPETEER_SKIP_DOWNLOAD=1 npm install --no-audit --no-fund --silent)
if [ ! -f "$build/build.ninja" ]; then
  flock /tmp/tolvar-build.lock cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
flock /tmp/tolvar-build.lock cmake --build "$build" -j2 --target browser_bench
"$build/bench/browser/browser_bench" "$here/puppeteer_bench.mjs" "$browser" "${COUNT:-1000}"
