#!/usr/bin/env bash
# The demo: Tolvar publishes sample videos of two accounts to the studio
# simulator. Installs what is missing, builds, makes sample clips, starts the
# simulator, logs two browser profiles in as two users, runs an upload job and
# prints what the simulator received.
#
# Options (all optional):
#   --run-dir DIR     run directory of the demo (default: ./demo-run)
#   --headless        no window and a headless browser (the default without a display)
#   --build-dir DIR   use binaries already built there; skip set-up and build
#   --port P          simulator port (default 8721; 0 picks a free one)
#   --lanes N         work on N accounts at once (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

run_dir=$root/demo-run
build_dir=
headless=
port=8721
lanes=1
while [ $# -gt 0 ]; do
  case $1 in
    --run-dir) run_dir=$(realpath -m "$2"); shift 2 ;;
    --headless) headless=1; shift ;;
    --build-dir) build_dir=$(realpath "$2"); shift 2 ;;
    --port) port=$2; shift 2 ;;
    --lanes) lanes=$2; shift 2 ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
  esac
done

if [ -z "$build_dir" ]; then
  scripts/setup-debian.sh
  build_dir=$root/build-demo
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOLVAR_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" -j2 --target tolvar studio-sim
fi
tolvar=$build_dir/app/tolvar
sim=$build_dir/tools/studio-sim/studio-sim

if [ -z "$headless" ] && ! { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }; then
  headless=1
fi

sim_dir=$run_dir/studio-sim
mkdir -p "$run_dir/data/list" "$sim_dir" "$run_dir/home"
sim_pid=
tolvar_pid=
cleanup() {
  [ -n "$tolvar_pid" ] && kill "$tolvar_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The simulator on its default address (or the port asked for).
coproc SIM { exec "$sim" --port "$port" --data "$sim_dir"; }
sim_pid=$SIM_PID
read -r first_line <&"${SIM[0]}"
origin=${first_line#listening on }
echo "demo: studio simulator at $origin"

browser_flags=(--no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking --disable-component-update --disable-sync)
headless_ini=false
[ -n "$headless" ] && headless_ini=true
cat > "$run_dir/data/services.ini" <<INI
[studio]
origin=$origin
[browser]
headless=$headless_ini
extra_args=${browser_flags[*]}
[update]
a=$origin/u1/
b=$origin/u2/
c=$origin/u3/
[quote]
url=$origin/quote/?encode=text
[notify]
host=$origin
INI

# Two accounts, each with its own profile logged in as its own user, and two clips each.
declare -A users=([100]=演示甲 [101]=demo-b)
videos=()
hashes=()
n=0
for id in 100 101; do
  folder=$run_dir/videos/$id
  mkdir -p "$folder"
  printf '{"昵称":"自动获取","素材目录":"%s","缓存id":"%s"}\n' "$folder" "$id" > "$run_dir/data/list/$id.json"
  chromium --headless=new "${browser_flags[@]}" --user-data-dir="$run_dir/huancun/tolvar$id" \
    --dump-dom "$origin/login?name=${users[$id]}" >/dev/null 2>&1
  # The browser wrote the login to the profile on its way out: one started afresh on it shows the user.
  page=$(chromium --headless=new "${browser_flags[@]}" --user-data-dir="$run_dir/huancun/tolvar$id" \
    --dump-dom "$origin/upload" 2>/dev/null) || true
  if [[ $page != *"user-info__username\">${users[$id]}</span>"* ]]; then
    echo "demo: the browser profile of account $id is not logged in to the simulator" >&2
    exit 1
  fi
  for clip in 风景 city; do
    n=$((n + 1))
    file=$folder/${clip}$n.mp4
    ffmpeg -loglevel error -y -f lavfi -i "testsrc=duration=2:size=320x240:rate=15" -pix_fmt yuv420p \
      -metadata comment="demo clip $n $(date +%s%N)" "$file"
    videos+=("$file")
    hashes+=("$(sha256sum "$file" | cut -d' ' -f1)")
  done
done
echo "demo: made ${#videos[@]} clips under $run_dir/videos"

# Settings of the demo: delete nothing, move used files aside, a short pause between videos.
used=$run_dir/已使用视频
mkdir -p "$used"
printf '[编辑框]\r\n编辑框_视频间隔=5\r\n编辑框_使用过视频目录=%s\r\n编辑框_账号序列=1\r\n[单选框]\r\n单选框_删除=假\r\n单选框_移动=真\r\n' "$used" \
  | iconv -f utf-8 -t gbk > "$run_dir/data/setsoft.ini"
# The disclaimer was accepted by this demo user.
mkdir -p "$run_dir/home/Documents"
echo accepted > "$run_dir/home/Documents/tvbq.dll"

ledger=$sim_dir/published.jsonl
before=0
[ -f "$ledger" ] && before=$(wc -l < "$ledger")
mode=()
[ -n "$headless" ] && mode=(--headless)
mode+=(--lanes "$lanes")
echo "demo: starting tolvar ${mode[*]} --start (run directory $run_dir)"
mkdir -p -m 700 "$run_dir/home/runtime"
output=$run_dir/tolvar-output.txt
HOME=$run_dir/home XDG_RUNTIME_DIR=$run_dir/home/runtime "$tolvar" "${mode[@]}" --run-dir "$run_dir" --start > >(tee "$output") &
tolvar_pid=$!

# The run loops over the accounts; once every clip is in the ledger and has
# left its folder, end it the way a user would (settings are saved on the way out).
start=$(date +%s%N)
while :; do
  # A clip is done when the ledger holds its bytes and it left its folder.
  done_count=0
  for i in "${!videos[@]}"; do
    [ ! -e "${videos[$i]}" ] && tail -n +"$((before + 1))" "$ledger" 2>/dev/null | grep -q "\"file_sha256\":\"${hashes[$i]}\"" \
      && done_count=$((done_count + 1))
  done
  [ "$done_count" -ge "${#videos[@]}" ] && break
  if ! kill -0 "$tolvar_pid" 2>/dev/null; then echo "demo: tolvar ended early" >&2; exit 1; fi
  if [ $(( ($(date +%s%N) - start) / 1000000000 )) -gt 900 ]; then echo "demo: timed out" >&2; exit 1; fi
  sleep 0.2
done
run_ms=$(( ($(date +%s%N) - start) / 1000000 ))
kill -TERM "$tolvar_pid"
wait "$tolvar_pid" 2>/dev/null || true
tolvar_pid=
# The last result line carries the program's own account of the run so far.
waits=$(grep 'run so far' "$output" | tail -1 | sed -E 's/.*run so far [0-9.]+ s, ([0-9.]+) s of it prescribed waits.*/\1/')
awk -v ms="$run_ms" -v w="${waits:-0}" -v all="$SECONDS" 'BEGIN {
  printf "demo: the run took %.1f s, %.1f s of it (%.0f%%) the waits the program prescribes; the whole command %d s\n", ms / 1000, w, 100 * w * 1000 / ms, all }'

echo
echo "What the studio simulator received (user | title | draft | cover | file):"
tail -n +"$((before + 1))" "$ledger" | sed -E 's/.*"user":"([^"]*)".*"title":"([^"]*)".*"draft":([a-z]*).*"cover":"([^"]*)".*"file_name":"([^"]*)".*/  \1 | \2 | \3 | \4 | \5/'
echo
echo "Used files moved to $used:"
for i in "${!videos[@]}"; do
  for f in "$used"/*; do
    if [ -f "$f" ] && [ "$(sha256sum "$f" | cut -d' ' -f1)" = "${hashes[$i]}" ]; then
      echo "  $(basename "${videos[$i]}") -> $(basename "$f")"
      break
    fi
  done
done
