#!/usr/bin/env bash
# Installs every Debian package Tolvar needs to build, test and run its demo.
# Idempotent: packages already present are skipped, so a second run does nothing.
set -euo pipefail

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

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
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
