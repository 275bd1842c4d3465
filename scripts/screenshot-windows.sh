#!/usr/bin/env bash
# Screenshot of the packed Windows program's main window under Wine and
# Xvfb: docs/main-window-windows.png. The text is drawn with the CJK font
# Wine finds through fontconfig (fonts-wqy-microhei, WenQuanYi Micro Hei),
# where Windows itself uses its own Chinese UI font.
# Usage: scripts/screenshot-windows.sh [ZIP] [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
zip=$(realpath "${1:-dist/tolvar-3.0-win64.zip}")
out=${2:-docs/main-window-windows.png}
[ -f "$zip" ] || { echo "make the package first: scripts/windows.sh" >&2; exit 1; }
work=$(realpath build-win)/screenshot
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
wine_clean_package_run "$zip" "$work"
(cd "$work/tolvar-3.0-win64" && wine tolvar.exe --run-dir 'C:\tolvar-run' >/dev/null 2>&1) &
# No Chrome on this prefix: the box asking for one is answered with Return.
wid=
for _ in $(seq 300); do
  wid=$(xdotool search --onlyvisible --name "按键盘" 2>/dev/null | head -1 || true)
  [ -n "$wid" ] && break
  wine_answer_message_boxes
  sleep 0.2
done
[ -n "$wid" ] || { echo "screenshot: the main window did not appear" >&2; exit 1; }
# Let the start-up checks write their status texts.
sleep 8
mkdir -p "$(dirname "$out")"
xwd -silent -id "$wid" | xwdtopnm 2>/dev/null | pnmtopng > "$out"
wine taskkill /im tolvar.exe >/dev/null 2>&1 || true
echo "wrote $out"
