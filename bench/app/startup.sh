#!/usr/bin/env bash
# Start-up time to the main window shown and resident memory of the idle
# window, Tolvar beside a bare Qt Widgets program, both on the offscreen
# platform. Usage: bench/app/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-10}
tolvar=$build/app/tolvar
bare=$build/bench/app/bare_window
[ -x "$tolvar" ] && [ -x "$bare" ] || { echo "build first: $tolvar, $bare" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

: > "$work/tolvar.txt"; : > "$work/bare.txt"
for i in $(seq "$runs"); do
  rm -rf "$work/run"
  one_run "$tolvar" --run-dir "$work/run" >> "$work/tolvar.txt"
  one_run "$bare" >> "$work/bare.txt"
done

t_ms=$(cut -d' ' -f1 "$work/tolvar.txt" | median)
b_ms=$(cut -d' ' -f1 "$work/bare.txt" | median)
t_kb=$(cut -d' ' -f2 "$work/tolvar.txt" | median)
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
