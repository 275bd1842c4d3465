# Shell functions for running the Windows build under Wine; sourced by the
# Windows scripts. Wine needs the zh_CN.UTF-8 locale so that its ANSI code
# page is 936: without it every Chinese byte is mangled.

export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko prompts: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# The suites find the Qt, libcurl and mingw runtime DLLs through WINEPATH.
wine_env_dlls() {
  local sdk=$1
  export WINEPATH="$sdk/qt-6.4.2-mingw64/bin;$sdk/curl-7.88.1-mingw64/bin;/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib"
}

# A new prefix at $1. Its Desktop and Documents are folders of its own, not
# links to the desktop and documents of the user running the build.
wine_fresh_prefix() {
  export WINEPREFIX=$1
  # Menus, file associations and the recycle bin of this Wine stay beside
  # the prefix, out of the user's own desktop folders.
  export XDG_DATA_HOME=$1-xdg/data XDG_CONFIG_HOME=$1-xdg/config
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$1-xdg"
  mkdir -p "$WINEPREFIX" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
  wineboot -i >/dev/null 2>&1
  # A crash ends the process instead of waiting for a debugger nobody runs.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 0 /f >/dev/null 2>&1
  wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
  wineserver -w
  local user_dir
  for user_dir in "$WINEPREFIX"/drive_c/users/*; do
    [ -d "$user_dir" ] || continue
    local f
    for f in Desktop Documents Downloads Music Pictures Videos Templates; do
      if [ -L "$user_dir/$f" ]; then
        rm -f "$user_dir/$f"
        mkdir -p "$user_dir/$f"
      fi
    done
  done
}

# Xvfb for the suites and programs that show windows or take hot keys.
wine_display_pid=
wine_start_display() {
  local n
  for n in $(seq 0 20); do
    local d=$(( 120 + RANDOM % 200 ))
    [ -e "/tmp/.X11-unix/X$d" ] && continue
    Xvfb ":$d" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    wine_display_pid=$!
    sleep 1
    if kill -0 "$wine_display_pid" 2>/dev/null; then
      export DISPLAY=":$d"
      return 0
    fi
  done
  echo "wine: no Xvfb display could start" >&2
  return 1
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  if [ -n "$wine_display_pid" ]; then
    kill "$wine_display_pid" 2>/dev/null || true
    wait "$wine_display_pid" 2>/dev/null || true
    wine_display_pid=
  fi
}

# With no Chrome or Edge on a prefix, the main window's creation asks the
# user to install one ("请下载安装谷歌浏览器后再使用"): a small box that Return
# answers. The start window (740 wide) has the same title.
wine_answer_message_boxes() {
  local w width
  for w in $(xdotool search --onlyvisible --name "^Tolvar视频批量发布$" 2>/dev/null); do
    width=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
    if [ -n "$width" ] && [ "$width" -lt 600 ]; then
      xdotool windowfocus "$w" 2>/dev/null && xdotool key Return 2>/dev/null || true
    fi
  done
}

# The package unpacked into $2 on a clean prefix of its own under $2, with a
# display and the disclaimer accepted once, as on a user's machine where the
# program already ran: nothing from the build (no WINEPATH) is visible.
wine_clean_package_run() {
  local zip=$1 work=$2
  rm -rf "$work" && mkdir -p "$work"
  unset WINEPATH
  wine_fresh_prefix "$work/prefix"
  trap wine_stop EXIT
  wine_start_display
  (cd "$work" && unzip -q "$zip")
  wine_documents=$WINEPREFIX/drive_c/users/$(id -un)/Documents
  [ -d "$wine_documents" ] || { echo "wine: the prefix has no $wine_documents" >&2; return 1; }
  echo accepted > "$wine_documents/tvbq.dll"
}
