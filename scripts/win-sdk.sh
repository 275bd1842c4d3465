#!/usr/bin/env bash
# Makes the Windows SDK of the cross-build ready and prints its folder:
# Qt 6.4.2 (with Qt WebSockets) and libcurl 7.88.1 built for x86_64-w64-mingw32.
#
# Order: a folder already made (its .ready stamp), then the archives of a
# prepared SDK (TOLVAR_WIN_SDK_ARCHIVES, or ../shared/win-sdk beside the
# checkout) checked against their SHA256SUMS, and last a build from Debian's
# own source packages (about 30 minutes on 2 cores, once).
#
# The SDK lives in a cache folder outside the tree and outside every place a
# Linux build searches (never /opt/<name>*, /usr or /usr/local).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

cache=${TOLVAR_WIN_SDK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tolvar/win-sdk-6.4.2}
archives=${TOLVAR_WIN_SDK_ARCHIVES:-$here/../shared/win-sdk}
qt_dir=$cache/qt-6.4.2-mingw64
curl_dir=$cache/curl-7.88.1-mingw64

log() { echo "win-sdk: $*" >&2; }

# The stamp holds the checksums of the archives it was unpacked from: a
# prepared SDK that changed since (Qt WebSockets was added to its Qt) is
# unpacked again.
wanted=built-from-source
[ -f "$archives/SHA256SUMS" ] && wanted=$(cat "$archives/SHA256SUMS")
if [ -f "$cache/.ready" ] && [ -d "$qt_dir" ] && [ -d "$curl_dir" ] \
  && { [ ! -f "$archives/SHA256SUMS" ] || [ "$(cat "$cache/.ready")" = "$wanted" ]; }; then
  echo "$cache"
  exit 0
fi
mkdir -p "$cache"

unpack_archives() {
  log "unpacking the prepared SDK from $archives"
  (cd "$archives" && sha256sum --quiet -c SHA256SUMS) || { log "checksums of $archives do not match"; return 1; }
  rm -rf "$qt_dir" "$curl_dir"
  tar -C "$cache" -xJf "$archives/qt-6.4.2-mingw64.tar.xz"
  tar -C "$cache" -xJf "$archives/curl-7.88.1-mingw64.tar.xz"
}

# The toolchain file of the SDK build itself: the same compilers as the
# project's, with the SDK prefix as the only search root besides mingw's.
write_sdk_toolchain() {
  cat >"$1" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $2)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

ensure_deb_src() {
  if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    log "adding a deb-src entry for Debian's archive (bookworm main)"
    echo 'deb-src http://deb.debian.org/debian bookworm main' >/etc/apt/sources.list.d/tolvar-deb-src.list
  fi
  apt-get update -qq
}

build_from_source() {
  log "no prepared SDK: building Qt and libcurl from Debian's source packages (once, about 30 minutes)"
  [ "$(id -u)" -eq 0 ] || { log "run as root to fetch the source packages"; return 1; }
  ensure_deb_src
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends dpkg-dev xz-utils
  local work=$cache/src
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source --download-only qt6-base qt6-websockets curl)
  tar -C "$work" -xf "$work"/qt6-base_*.orig.tar.xz
  tar -C "$work" -xf "$work"/qt6-websockets_*.orig.tar.xz
  tar -C "$work" -xf "$work"/curl_*.orig.tar.gz
  write_sdk_toolchain "$work/mingw-qt.cmake" ""
  write_sdk_toolchain "$work/mingw-curl.cmake" ""

  # Without OpenGL the windows platform plugin of 6.4.2 does not compile.
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$work/qtbase-everywhere-src-6.4.2/src/plugins/platforms/windows/qwindowswindow.cpp"

  cmake -G Ninja -S "$work/qtbase-everywhere-src-6.4.2" -B "$work/qt-build" \
    -DCMAKE_TOOLCHAIN_FILE="$work/mingw-qt.cmake" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DCMAKE_INSTALL_PREFIX="$qt_dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_icu=OFF -DFEATURE_openssl=OFF -DFEATURE_schannel=ON \
    -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_doubleconversion=OFF
  ninja -C "$work/qt-build" -j2
  cmake --install "$work/qt-build"

  # Qt WebSockets, against the Qt just installed (the DevTools transport to
  # browsers that run elsewhere).
  cmake -G Ninja -S "$work/qtwebsockets-everywhere-src-6.4.2" -B "$work/ws-build" \
    -DCMAKE_TOOLCHAIN_FILE="$work/mingw-qt.cmake" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DCMAKE_PREFIX_PATH="$qt_dir" \
    -DCMAKE_FIND_ROOT_PATH="$qt_dir" -DCMAKE_INSTALL_PREFIX="$qt_dir" -DCMAKE_BUILD_TYPE=Release \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_qml=OFF
  ninja -C "$work/ws-build" -j2
  cmake --install "$work/ws-build"

  local curl_src
  curl_src=$(find "$work" -maxdepth 1 -type d -name 'curl-7.88.1' | head -1)
  cmake -G Ninja -S "$curl_src" -B "$work/curl-build" -DCMAKE_TOOLCHAIN_FILE="$work/mingw-curl.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$curl_dir" -DBUILD_SHARED_LIBS=ON \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DHTTP_ONLY=ON -DBUILD_CURL_EXE=OFF \
    -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DCURL_DISABLE_LDAP=ON -DUSE_NGHTTP2=OFF \
    -DENABLE_UNIX_SOCKETS=OFF
  ninja -C "$work/curl-build" -j2 install
  rm -rf "$work"
}

if [ -f "$archives/SHA256SUMS" ]; then
  unpack_archives
else
  build_from_source
fi
[ -f "$qt_dir/lib/cmake/Qt6/Qt6Config.cmake" ] || { log "Qt is missing from $qt_dir"; exit 1; }
[ -f "$curl_dir/bin/libcurl.dll" ] || { log "libcurl.dll is missing from $curl_dir"; exit 1; }
[ -f "$qt_dir/lib/cmake/Qt6WebSockets/Qt6WebSocketsConfig.cmake" ] || { log "Qt WebSockets is missing from $qt_dir"; exit 1; }
printf '%s\n' "$wanted" >"$cache/.ready"
log "ready in $cache"
echo "$cache"
