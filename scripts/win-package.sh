#!/usr/bin/env bash
# Packs the portable Windows program: dist/tolvar-3.0-win64.zip with one
# folder, tolvar-3.0-win64/, holding tolvar.exe and every DLL and plugin it
# loads. Usage: scripts/win-package.sh BUILD_DIR SDK_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
sdk=$2
qt=$sdk/qt-6.4.2-mingw64
curl=$sdk/curl-7.88.1-mingw64
name=tolvar-3.0-win64
stage=dist/$name
rm -rf "$stage" "dist/$name.zip"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats"

cp "$build/app/tolvar.exe" "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6WebSockets; do cp "$qt/bin/$dll.dll" "$stage/"; done
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
# Covers and announcement pictures may be JPEG, GIF or ICO.
for f in "$qt"/plugins/imageformats/*.dll; do cp "$f" "$stage/imageformats/"; done
cp "$curl/bin/libcurl.dll" "$stage/"
cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll \
   /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$stage/"
x86_64-w64-mingw32-strip --strip-unneeded "$stage/tolvar.exe" "$stage"/lib*.dll

# Every DLL an executable or plugin of the package imports is either in the
# package or a part of Windows.
missing=0
for f in "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll; do
  for dep in $(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p'); do
    if [ -f "$stage/$dep" ]; then continue; fi
    if [ -f "/usr/x86_64-w64-mingw32/lib/lib${dep%.dll}.a" ] || [ -f "/usr/x86_64-w64-mingw32/lib/lib${dep,,}.a" ] \
       || [ -f "/usr/x86_64-w64-mingw32/lib/lib$(echo "${dep%.*}" | tr 'A-Z' 'a-z').a" ]; then continue; fi
    case ${dep,,} in api-ms-win-*|ext-ms-*) continue ;; esac
    echo "package: $(basename "$f") needs $dep, which is not in the package" >&2
    missing=1
  done
done
[ "$missing" = 0 ] || exit 1

(cd dist && zip -qr9 "$name.zip" "$name")
echo "package: dist/$name.zip ($(du -k "dist/$name.zip" | cut -f1) KiB, $(find "$stage" -type f | wc -l) files)"
