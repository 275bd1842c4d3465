#!/usr/bin/env bash
# Ten videos of one account published to the studio simulator at full scale
# (the program's own waits, headless Chromium). Prints, per video, the wall
# time beside the waits the program prescribes, the rest (our own overhead,
# which includes the browser and the simulator's page work), and tolvar's
# peak memory against its idle figure.
# Usage: bench/upload/upload_bench.sh [BUILD_DIR] [VIDEOS]
# Wall and wait times come from tolvar's headless lines, to the hundredth of a
# second.
set -euo pipefail
build=$(realpath "${1:-build}")
count=${2:-10}
tolvar=$build/app/tolvar
sim=$build/tools/studio-sim/studio-sim
[ -x "$tolvar" ] && [ -x "$sim" ] || { echo "build first: $tolvar, $sim" >&2; exit 1; }

work=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
# The simulator prints its address on the first line; the run below is the
# script's one coprocess.
"$sim" --port 0 --data "$work/sim" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q "^listening on " "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
line=$(head -1 "$work/sim.out")
origin=${line#listening on }
[ -n "$origin" ] || { echo "the studio simulator did not start" >&2; exit 1; }

flags=(--no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking --disable-component-update --disable-sync)
run=$work/run
mkdir -p "$run/data/list" "$run/videos" "$work/home/Documents" && echo accepted > "$work/home/Documents/tvbq.dll"
mkdir -p -m 700 "$work/home/runtime"
printf '[studio]\norigin=%s\n[browser]\nheadless=true\nextra_args=%s\n' "$origin" "${flags[*]}" > "$run/data/services.ini"
printf '{"昵称":"","素材目录":"%s","缓存id":"100"}' "$run/videos" > "$run/data/list/100.json"
printf '[编辑框]\r\n编辑框_视频间隔=0\r\n编辑框_单账号上传=%s\r\n' "$count" | iconv -f utf-8 -t gbk > "$run/data/setsoft.ini"
chromium --headless=new "${flags[@]}" --user-data-dir="$run/huancun/tolvar100" --dump-dom "$origin/login?name=bench" >/dev/null 2>&1
for i in $(seq -w "$count"); do
  ffmpeg -loglevel error -f lavfi -i "testsrc=duration=2:size=320x240:rate=15" -pix_fmt yuv420p -metadata comment="bench $i" "$run/videos/v$i.mp4"
done
bytes=$(du -cb "$run"/videos/*.mp4 | tail -1 | cut -f1)

export HOME=$work/home XDG_RUNTIME_DIR=$work/home/runtime
# Idle figure: the same program, started without a run.
"$tolvar" --headless --run-dir "$work/idle" >/dev/null 2>&1 &
idle_pid=$!
sleep 4
idle_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$idle_pid/status")
kill "$idle_pid"; wait "$idle_pid" 2>/dev/null || true

coproc RUN { exec "$tolvar" --headless --run-dir "$run" --start 2>/dev/null; }
run_pid=$RUN_PID
results=()
while read -r line <&"${RUN[0]}"; do
  case $line in
    "video published"*|"video failed"*) results+=("$line") ;;
  esac
  [ ${#results[@]} -ge "$count" ] && break
done
peak_kb=$(awk '/^VmHWM/ {print $2}' "/proc/$run_pid/status")
kill "$run_pid"; wait "$run_pid" 2>/dev/null || true

published=0
printf '%-6s %10s %12s %12s\n' video "wall s" "waits s" "rest ms"
i=0
rests=()
for r in "${results[@]}"; do
  i=$((i + 1))
  [[ $r == "video published"* ]] && published=$((published + 1))
  wall=$(sed -E 's/.*\(([0-9.]+) s, ([0-9.]+) s of it.*/\1/' <<< "$r")
  waits=$(sed -E 's/.*\(([0-9.]+) s, ([0-9.]+) s of it.*/\2/' <<< "$r")
  rest=$(awk -v w="$wall" -v p="$waits" 'BEGIN {printf "%d", (w - p) * 1000}')
  rests+=("$rest")
  printf '%-6s %10s %12s %12s\n' "$i" "$wall" "$waits" "$rest"
done
sorted=$(printf '%s\n' "${rests[@]}" | sort -n)
median=$(awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2] + a[NR/2+1]) / 2)}' <<< "$sorted")
later=$(printf '%s\n' "${rests[@]:1}" | awk '{s+=$1} END {printf "%d", s / NR}')
echo
echo "published: $published of $count; video bytes in all: $bytes (uploaded during the prescribed 3 s wait after the file is given)"
echo "own overhead per video: median ${median} ms; mean without the first video (browser start) ${later} ms; goal < 250 ms"
awk -v p="$peak_kb" -v i="$idle_kb" 'BEGIN {printf "tolvar memory: idle %d kB, peak during the run %d kB, ratio %.2f (goal <= 1.3)\n", i, p, p / i}'
