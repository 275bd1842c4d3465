#!/usr/bin/env bash
# Starts the packed Windows program the way a user would, on a clean Wine
# prefix with nothing but the zip: --version, a windowed run that WM_CLOSE
# ends (wine taskkill), and a headless run that Ctrl+C ends. Both runs must
# write the run log and save data\setsoft.ini on the way out.
# Usage: scripts/win-package-check.sh ZIP
set -euo pipefail
cd "$(dirname "$0")/.."
zip=$(realpath "$1")
work=$(realpath build-win)/package-check
rm -rf "$work" && mkdir -p "$work"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
unset WINEPATH
wine_fresh_prefix "$work/prefix"
trap wine_stop EXIT
wine_start_display
(cd "$work" && unzip -q "$zip")
app=$work/tolvar-3.0-win64
exe=$app/tolvar.exe
# The disclaimer was accepted once on this machine.
docs=$(echo "$WINEPREFIX"/drive_c/users/*/Documents)
echo accepted > "$docs/tvbq.dll"

fail() { echo "package check: $*" >&2; exit 1; }

version=$(cd "$app" && wine "$exe" --version 2>/dev/null | iconv -f GBK -t UTF-8)
echo "package check: --version printed: $version"
[[ $version == *"v3.0"* ]] || fail "--version printed no version"

# Waits up to $2 seconds for the shell test $1.
wait_for() {
  local i
  for i in $(seq $(( $2 * 10 ))); do
    if eval "$1"; then return 0; fi
    sleep 0.1
  done
  return 1
}
run_log_exists() { compgen -G "$1/data/*.txt" >/dev/null; }
tolvar_running() { pgrep -f 'tolvar\.exe' >/dev/null; }

# The windowed program, ended by WM_CLOSE as taskkill sends it.
run1=$work/run-window
(cd "$app" && wine "$exe" --run-dir 'C:\tolvar-run-window' >"$work/window.out" 2>&1) &
ln -s "$WINEPREFIX/drive_c/tolvar-run-window" "$run1" 2>/dev/null || true
wait_for "run_log_exists '$run1'" 60 || fail "the windowed run wrote no run log"
# The main window comes up after the start window's second.
sleep 4
[ ! -e "$run1/data/setsoft.ini" ] || fail "setsoft.ini existed before the window closed"
wine taskkill /im tolvar.exe >/dev/null 2>&1 || true
wait_for "! tolvar_running" 30 || fail "tolvar.exe did not end on WM_CLOSE"
[ -s "$run1/data/setsoft.ini" ] || fail "closing the main window saved no data\\setsoft.ini"
iconv -f GBK -t UTF-8 "$run1/data/setsoft.ini" | grep -q '^\[编辑框\]' || fail "setsoft.ini holds no GBK [编辑框] section"
echo "package check: window run: run log $(basename "$(ls "$run1"/data/*.txt | head -1)" | iconv -f UTF-8 -t UTF-8), setsoft.ini $(stat -c %s "$run1/data/setsoft.ini") bytes after WM_CLOSE"

# The headless program, ended by Ctrl+C in its console.
run2=$work/run-headless
(cd "$app" && exec wine "$exe" --headless --run-dir 'C:\tolvar-run-headless' >"$work/headless.out" 2>&1) &
ln -s "$WINEPREFIX/drive_c/tolvar-run-headless" "$run2" 2>/dev/null || true
wait_for "run_log_exists '$run2'" 60 || fail "the headless run wrote no run log"
sleep 4
[ ! -e "$run2/data/setsoft.ini" ] || fail "setsoft.ini existed before Ctrl+C"
pkill -INT -f 'tolvar\.exe' || fail "no tolvar.exe process to interrupt"
wait_for "! tolvar_running" 30 || fail "tolvar.exe did not end on Ctrl+C"
[ -s "$run2/data/setsoft.ini" ] || fail "Ctrl+C saved no data\\setsoft.ini"
echo "package check: headless run: setsoft.ini $(stat -c %s "$run2/data/setsoft.ini") bytes after Ctrl+C"
echo "package check: passed"
