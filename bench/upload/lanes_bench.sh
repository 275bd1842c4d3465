#!/usr/bin/env bash
# Eight accounts with one video each, published to the studio simulator with
# 1, 2 and 4 lanes in one run (interval 5 s): wall time to the last publish,
# speed-up against one lane, peak resident memory of tolvar and of all its
# browsers together, and CPU seconds (tolvar and the browsers it reaped).
# The browsers' memory is given twice: the sum of their resident sets (RSS),
# which counts every page their processes share once per process, and the
# sum of their proportional set sizes (PSS, /proc/PID/smaps_rollup), which
# splits a shared page among its sharers and so adds up to what the
# browsers really take from the machine; PSS per lane is the figure to plan
# a machine with.
# First at the program's own waits (TOLVAR_TIME_SCALE=1), then with the waits
# shrunk to 0.05, where the browsers' CPU is the limit.
# Usage: bench/upload/lanes_bench.sh [BUILD_DIR] [ACCOUNTS] [SCALES]
# SCALES defaults to "1 0.05"; "0.05" alone runs only the shrunk waits.
set -euo pipefail
build=$(realpath "${1:-build}")
accounts=${2:-8}
scales=${3:-1 0.05}
tolvar=$build/app/tolvar
sim=$build/tools/studio-sim/studio-sim
[ -x "$tolvar" ] && [ -x "$sim" ] || { echo "build first: $tolvar, $sim" >&2; exit 1; }

work=$(mktemp -d)
sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
"$sim" --port 0 --data "$work/sim" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q "^listening on " "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
line=$(head -1 "$work/sim.out")
origin=${line#listening on }
[ -n "$origin" ] || { echo "the studio simulator did not start" >&2; exit 1; }

flags=(--no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking --disable-component-update --disable-sync)
mkdir -p "$work/home/Documents" && echo accepted > "$work/home/Documents/tvbq.dll"
mkdir -p -m 700 "$work/home/runtime"
mkdir -p "$work/clips"
for i in $(seq "$accounts"); do
  ffmpeg -loglevel error -f lavfi -i "testsrc=duration=2:size=320x240:rate=15" -pix_fmt yuv420p -metadata comment="lanes $i" "$work/clips/c$i.mp4"
done
# One logged-in profile per account, made once and copied into every run.
for i in $(seq "$accounts"); do
  id=$((99 + i))
  chromium --headless=new "${flags[@]}" --user-data-dir="$work/profiles/tolvar$id" --dump-dom "$origin/login?name=lane$i" >/dev/null 2>&1
done
export HOME=$work/home XDG_RUNTIME_DIR=$work/home/runtime

# memory_of_browsers RUN_DIR: "rss_kB pss_kB" summed over every process whose
# command line names the run.
memory_of_browsers() {
  local rss=0 pss=0 pid r p
  for pid in $(pgrep -f -- "--user-data-dir=$1/" || true); do
    r=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
    p=$(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || true)
    rss=$((rss + ${r:-0}))
    pss=$((pss + ${p:-0}))
  done
  echo "$rss $pss"
}

# one_run SCALE LANES: prints "wall_s tolvar_peak_kb browsers_rss_peak_kb browsers_pss_peak_kb cpu_s published"
one_run() {
  local scale=$1 lanes=$2 run=$work/run-$1-$2
  mkdir -p "$run/data/list" "$run/huancun"
  printf '[studio]\norigin=%s\n[browser]\nheadless=true\nextra_args=%s\n[lanes]\nmin_free_mb=0\n' "$origin" "${flags[*]}" > "$run/data/services.ini"
  for i in $(seq "$accounts"); do
    id=$((99 + i))
    mkdir -p "$run/videos/$id"
    cp "$work/clips/c$i.mp4" "$run/videos/$id/v$i.mp4"
    printf '{"昵称":"","素材目录":"%s","缓存id":"%s"}' "$run/videos/$id" "$id" > "$run/data/list/$id.json"
    cp -r "$work/profiles/tolvar$id" "$run/huancun/"
  done
  printf '[编辑框]\r\n编辑框_视频间隔=5\r\n编辑框_单账号上传=1\r\n' | iconv -f utf-8 -t gbk > "$run/data/setsoft.ini"
  local start=$EPOCHREALTIME published=0 rss_peak=0 pss_peak=0 rss pss line
  coproc RUN { exec env TOLVAR_TIME_SCALE="$scale" "$tolvar" --headless --run-dir "$run" --start --lanes "$lanes" 2>/dev/null; }
  local pid=$RUN_PID
  while [ "$published" -lt "$accounts" ] && kill -0 "$pid" 2>/dev/null; do
    if read -r -t 0.5 line <&"${RUN[0]}"; then
      case $line in "video published"*|"video failed"*) published=$((published + 1)) ;; esac
    fi
    read -r rss pss < <(memory_of_browsers "$run")
    [ "$rss" -gt "$rss_peak" ] && rss_peak=$rss
    [ "$pss" -gt "$pss_peak" ] && pss_peak=$pss
  done
  local wall
  wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.1f", b - a}')
  local peak cpu
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
  # utime, stime and the reaped children's (the browsers), in clock ticks.
  cpu=$(awk -v hz="$(getconf CLK_TCK)" '{printf "%.1f", ($14 + $15 + $16 + $17) / hz}' "/proc/$pid/stat")
  kill "$pid"; wait "$pid" 2>/dev/null || true
  pkill -KILL -f -- "--user-data-dir=$run/" 2>/dev/null || true
  echo "$wall $peak $rss_peak $pss_peak $cpu $published"
}

for scale in $scales; do
  echo "TOLVAR_TIME_SCALE=$scale, $accounts accounts with one video each, interval 5 s"
  printf '%-6s %8s %9s %14s %13s %13s %8s %16s %8s\n' lanes "wall s" speed-up "tolvar peak kB" "browsers RSS" "browsers PSS" PSS/RSS "PSS per lane MB" "CPU s"
  base_wall=
  base_peak=
  for lanes in 1 2 4; do
    read -r wall peak rpeak ppeak cpu published < <(one_run "$scale" "$lanes")
    [ -z "$base_wall" ] && base_wall=$wall && base_peak=$peak
    awk -v l="$lanes" -v w="$wall" -v b="$base_wall" -v p="$peak" -v r="$rpeak" -v q="$ppeak" -v c="$cpu" -v n="$published" -v a="$accounts" \
      'BEGIN {printf "%-6s %8s %8.2fx %14d %13d %13d %8.2f %16.0f %8s%s\n", l, w, b / w, p, r, q, (r > 0 ? q / r : 0), q / l / 1024, c, (n < a ? "  (only " n " published)" : "")}'
    if [ "$lanes" = 4 ]; then
      awk -v p="$peak" -v b="$base_peak" 'BEGIN {printf "tolvar memory per extra lane: %.1f MB (goal < 10 MB)\n", (p - b) / 3 / 1024}'
    fi
  done
  [ "$scale" = 1 ] && echo "goal: 4 lanes at least 3.4x faster than 1 lane"
  echo
done
