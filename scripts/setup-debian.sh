#!/usr/bin/env bash
# Installs every Debian package Tolvar needs to build, test and run its demo.
# Idempotent: packages already present are skipped, so a second run does nothing.
# With --windows it adds what the Windows cross-build and its Wine runs need.
set -euo pipefail
windows=0
[ "${1:-}" = "--windows" ] && windows=1

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  rapidjson-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev
  chromium ffmpeg
  tinyproxy microsocks
  nodejs
  xvfb xdotool x11-utils xauth
  aria2 curl ca-certificates
  fonts-wqy-microhei
  x11-apps netpbm
  locales
)

if [ "$windows" = 1 ]; then
  packages+=(
    g++-mingw-w64-x86-64-posix wine wine64
    googletest zip unzip xz-utils
  )
fi

# The tests publish under a comma-decimal locale (de_DE.UTF-8); Wine needs
# the Chinese locale for code page 936.
ensure_locales() {
  local wanted=(de_DE.UTF-8)
  [ "$windows" = 1 ] && wanted+=(zh_CN.UTF-8)
  local added=0
  for name in "${wanted[@]}"; do
    local pattern="^${name%%.*}\.utf-\?8\$"
    locale -a 2>/dev/null | grep -qi "$pattern" && continue
    if [ "$(id -u)" -ne 0 ]; then
      echo "setup: the $name locale is missing; run this script as root" >&2
      exit 1
    fi
    grep -q "^$name UTF-8" /etc/locale.gen 2>/dev/null || echo "$name UTF-8" >>/etc/locale.gen
    added=1
  done
  [ "$added" = 1 ] || return 0
  locale-gen >/dev/null
  echo "setup: generated the locales ${wanted[*]}"
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  ensure_locales
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
ensure_locales
