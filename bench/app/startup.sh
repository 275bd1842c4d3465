#!/usr/bin/env bash
# Start-up time to the main window shown and resident memory of the idle
# window, Tolvar beside a bare Qt Widgets program, both on the offscreen
# platform. Tolvar runs twice: with its maintenance services pointed at a
# closed port (they fail at once) and with them talking to the studio
# simulator (version check, announcement, quote, version watch).
# Usage: bench/app/startup.sh [BUILD_DIR] [RUNS] [BASELINE_TOLVAR]
# BASELINE_TOLVAR, when given, is an earlier build of the program measured
# the same way (for example one without the services).
set -euo pipefail
build=${1:-build}
runs=${2:-10}
baseline=${3:-}
tolvar=$build/app/tolvar
bare=$build/bench/app/bare_window
sim=$build/tools/studio-sim/studio-sim
[ -x "$tolvar" ] && [ -x "$bare" ] && [ -x "$sim" ] || { echo "build first: $tolvar, $bare, $sim" >&2; exit 1; }

work=$(mktemp -d)
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT

"$sim" --port 0 --data "$work/sim" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out" | head -1)
# A port nobody listens on: the services fail at once.
closed=$(( port == 1 ? 2 : 1 ))

# services.ini of a fresh run directory pointing the services at a port.
services_ini() {
  mkdir -p "$1/data"
  cat > "$1/data/services.ini" <<INI
[update]
a=http://127.0.0.1:$2/u1/
b=http://127.0.0.1:$2/u2/
c=http://127.0.0.1:$2/u3/
[quote]
url=http://127.0.0.1:$2/quote/?encode=text
[notify]
host=127.0.0.1:$2
INI
}
# The disclaimer was accepted once for this (temporary) user.
mkdir -p "$work/home/Documents" && echo accepted > "$work/home/Documents/tvbq.dll"
export HOME=$work/home QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work TOLVAR_PRINT_READY=1

# Prints "<ms to ready> <idle RSS kB>" for one run of the command.
one_run() {
  local start end pid rss line
  start=$(date +%s%N)
  coproc PROG { exec "$@" 2>/dev/null; }
  pid=$PROG_PID
  read -r line <&"${PROG[0]}"
  end=$(date +%s%N)
  sleep 2
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "$(( (end - start) / 1000000 )) $rss"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2] + a[NR/2+1]) / 2)}'; }

: > "$work/tolvar.txt"; : > "$work/bare.txt"; : > "$work/services.txt"; : > "$work/baseline.txt"
for i in $(seq "$runs"); do
  rm -rf "$work/run"; services_ini "$work/run" "$closed"
  one_run "$tolvar" --run-dir "$work/run" >> "$work/tolvar.txt"
  rm -rf "$work/run"; services_ini "$work/run" "$port"
  one_run "$tolvar" --run-dir "$work/run" >> "$work/services.txt"
  one_run "$bare" >> "$work/bare.txt"
  if [ -n "$baseline" ]; then
    rm -rf "$work/run"; services_ini "$work/run" "$closed"
    one_run "$baseline" --run-dir "$work/run" >> "$work/baseline.txt"
  fi
done

t_ms=$(cut -d' ' -f1 "$work/tolvar.txt" | median)
s_ms=$(cut -d' ' -f1 "$work/services.txt" | median)
b_ms=$(cut -d' ' -f1 "$work/bare.txt" | median)
t_kb=$(cut -d' ' -f2 "$work/tolvar.txt" | median)
s_kb=$(cut -d' ' -f2 "$work/services.txt" | median)
b_kb=$(cut -d' ' -f2 "$work/bare.txt" | median)
# The start window waits a prescribed 1000 ms before the main window is made.
prescribed=1000
own=$(( t_ms - prescribed ))
printf 'runs: %d (medians)\n' "$runs"
printf '%-34s %8s %8s %8s\n' "" tolvar bare ratio
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
printf '%-34s %8d %8d %8s\n' "start-up to main window (ms)" "$t_ms" "$b_ms" "$(ratio "$t_ms" "$b_ms")"
printf '%-34s %8d %8d %8s\n' "  without the 1000 ms start timer" "$own" "$b_ms" "$(ratio "$own" "$b_ms")"
printf '%-34s %8d %8d %8s\n' "idle resident memory (kB)" "$t_kb" "$b_kb" "$(ratio "$t_kb" "$b_kb")"
printf '\nwith the services against the simulator\n'
printf '%-34s %8s %8s %8s\n' "" services closed ratio
printf '%-34s %8d %8d %8s\n' "start-up to main window (ms)" "$s_ms" "$t_ms" "$(ratio "$s_ms" "$t_ms")"
printf '%-34s %8d %8d %8s\n' "  without the 1000 ms start timer" "$(( s_ms - prescribed ))" "$own" "$(ratio "$(( s_ms - prescribed ))" "$own")"
printf '%-34s %8d %8d %8s\n' "idle resident memory (kB)" "$s_kb" "$t_kb" "$(ratio "$s_kb" "$t_kb")"
if [ -n "$baseline" ]; then
  a_ms=$(cut -d' ' -f1 "$work/baseline.txt" | median)
  a_kb=$(cut -d' ' -f2 "$work/baseline.txt" | median)
  printf '\nbeside the baseline build %s\n' "$baseline"
  printf '%-34s %8s %8s %8s\n' "" services baseline ratio
  printf '%-34s %8d %8d %8s\n' "start-up to main window (ms)" "$s_ms" "$a_ms" "$(ratio "$s_ms" "$a_ms")"
  printf '%-34s %8d %8d %8s\n' "  without the 1000 ms start timer" "$(( s_ms - prescribed ))" "$(( a_ms - prescribed ))" "$(ratio "$(( s_ms - prescribed ))" "$(( a_ms - prescribed ))")"
  printf '%-34s %8d %8d %8s\n' "idle resident memory (kB)" "$s_kb" "$a_kb" "$(ratio "$s_kb" "$a_kb")"
fi
