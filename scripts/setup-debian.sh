#!/usr/bin/env bash
# Installs every Debian package Tolvar needs to build, test and run its demo.
# Idempotent: packages already present are skipped, so a second run does nothing.
# With --windows it adds what the Windows cross-build and its Wine runs need.
set -euo pipefail
windows=0
[ "${1:-}" = "--windows" ] && windows=1

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  rapidjson-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev
  chromium ffmpeg
  nodejs
  xvfb xdotool x11-utils xauth
  aria2 curl ca-certificates
  fonts-wqy-microhei
  x11-apps netpbm
)

if [ "$windows" = 1 ]; then
  packages+=(
    g++-mingw-w64-x86-64-posix wine wine64 locales
    googletest zip unzip xz-utils
  )
fi

# Wine needs the Chinese locale for code page 936.
ensure_locale() {
  [ "$windows" = 1 ] || return 0
  locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$' && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: the zh_CN.UTF-8 locale is missing; run this script as root" >&2
    exit 1
  fi
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
  echo "setup: generated the zh_CN.UTF-8 locale"
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  ensure_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_locale
