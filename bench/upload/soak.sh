#!/usr/bin/env bash
# A long unattended run: VIDEOS (default 200) videos over four accounts at
# TOLVAR_TIME_SCALE=0.05 against the studio simulator, headless. Prints the
# program's threads, open file descriptors, child processes and resident
# memory after the first video and at the end, side by side (goal: flat).
# Usage: bench/upload/soak.sh [BUILD_DIR] [VIDEOS]
set -euo pipefail
build=$(realpath "${1:-build}")
count=${2:-200}
tolvar=$build/app/tolvar
sim=$build/tools/studio-sim/studio-sim
[ -x "$tolvar" ] && [ -x "$sim" ] || { echo "build first: $tolvar, $sim" >&2; exit 1; }

work=$(mktemp -d)
sim_pid=
run_pid=
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  pkill -f "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
"$sim" --port 0 --data "$work/sim" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do grep -q "^listening on " "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
origin=$(head -1 "$work/sim.out"); origin=${origin#listening on }

flags=(--no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking --disable-component-update --disable-sync)
run=$work/run
mkdir -p "$run/data/list" "$work/home/Documents" && echo accepted > "$work/home/Documents/tvbq.dll"
mkdir -p -m 700 "$work/home/runtime"
printf '[studio]\norigin=%s\n[browser]\nheadless=true\nextra_args=%s\n[update]\na=%s/u1/\nb=%s/u2/\nc=%s/u3/\n[quote]\nurl=%s/quote/?encode=text\n[notify]\nhost=%s\n' \
  "$origin" "${flags[*]}" "$origin" "$origin" "$origin" "$origin" "$origin" > "$run/data/services.ini"
per=$(( (count + 3) / 4 ))
printf '[编辑框]\r\n编辑框_视频间隔=0\r\n编辑框_单账号上传=5\r\n放弃秒=2400\r\n[单选框]\r\n单选框_删除=真\r\n' | iconv -f utf-8 -t gbk > "$run/data/setsoft.ini"
n=0
for id in 100 101 102 103; do
  mkdir -p "$run/videos/$id"
  printf '{"昵称":"","素材目录":"%s","缓存id":"%s"}' "$run/videos/$id" "$id" > "$run/data/list/$id.json"
  chromium --headless=new "${flags[@]}" --user-data-dir="$run/huancun/tolvar$id" --dump-dom "$origin/login?name=soak$id" >/dev/null 2>&1
  ffmpeg -loglevel error -f lavfi -i "testsrc=duration=1:size=160x120:rate=10" -pix_fmt yuv420p "$work/base.mp4" -y
  for i in $(seq -w "$per"); do
    [ "$n" -ge "$count" ] && break
    n=$((n + 1))
    # Each clip its own bytes: the base clip with a different tail.
    { cat "$work/base.mp4"; printf 'soak %s %s' "$id" "$i"; } > "$run/videos/$id/v$i.mp4"
  done
done

export HOME=$work/home XDG_RUNTIME_DIR=$work/home/runtime TOLVAR_TIME_SCALE=0.05
"$tolvar" --headless --run-dir "$run" --start > "$work/out.txt" 2>/dev/null &
run_pid=$!
figures() {
  local threads rss fds kids
  threads=$(awk '/^Threads/ {print $2}' "/proc/$run_pid/status")
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$run_pid/status")
  fds=$(ls "/proc/$run_pid/fd" | wc -l)
  kids=$(pgrep -P "$run_pid" | wc -l)
  echo "$threads $fds $kids $rss"
}
published() { grep -c '"user"' "$work/sim/published.jsonl" 2>/dev/null || echo 0; }
start=$(date +%s)
until [ "$(published)" -ge 1 ]; do sleep 0.2; done
first=$(figures)
until [ "$(published)" -ge "$count" ]; do
  sleep 1
  [ $(( $(date +%s) - start )) -gt 3600 ] && { echo "the soak did not finish within an hour" >&2; break; }
done
sleep 2
last=$(figures)
read -r t1 f1 k1 r1 <<< "$first"
read -r t2 f2 k2 r2 <<< "$last"
echo "soak: $(published) of $count videos published in $(( $(date +%s) - start )) s"
printf '%-22s %12s %12s\n' "" "after video 1" "at the end"
printf '%-22s %12s %12s\n' threads "$t1" "$t2"
printf '%-22s %12s %12s\n' "file descriptors" "$f1" "$f2"
printf '%-22s %12s %12s\n' "child processes" "$k1" "$k2"
printf '%-22s %12s %12s\n' "resident memory kB" "$r1" "$r2"
