#!/usr/bin/env bash
# Screenshot of the main window with the skin, under Xvfb, against the
# studio simulator: docs/main-window.png. Usage: scripts/screenshot.sh [BUILD_DIR] [OUT]
set -euo pipefail
build=${1:-build}
out=${2:-docs/main-window.png}
tolvar=$build/app/tolvar
sim=$build/tools/studio-sim/studio-sim
[ -x "$tolvar" ] && [ -x "$sim" ] || { echo "build first: $tolvar, $sim" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --port 0 --data "$work/sim" > "$work/sim.out" &
pids+=($!)
for _ in $(seq 50); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out" | head -1)

mkdir -p "$work/run/data" "$work/home/Documents"
echo accepted > "$work/home/Documents/tvbq.dll"
cat > "$work/run/data/services.ini" <<INI
[studio]
origin=http://127.0.0.1:$port
[update]
a=http://127.0.0.1:$port/u1/
b=http://127.0.0.1:$port/u2/
c=http://127.0.0.1:$port/u3/
[quote]
url=http://127.0.0.1:$port/quote/?encode=text
[notify]
host=127.0.0.1:$port
INI

display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp > /dev/null 2>&1 &
pids+=($!)
sleep 1
export DISPLAY=$display HOME=$work/home XDG_RUNTIME_DIR=$work
"$tolvar" --run-dir "$work/run" > /dev/null 2>&1 &
pids+=($!)
wid=$(xdotool search --sync --name "按键盘" | head -1)
# The version watch writes the status bar six seconds after the window.
sleep 8
mkdir -p "$(dirname "$out")"
xwd -silent -id "$wid" | xwdtopnm 2>/dev/null | pnmtopng > "$out"
echo "wrote $out"
