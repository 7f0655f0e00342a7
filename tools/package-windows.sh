#!/usr/bin/env bash
# Packages the cross-built Windows program (run tools/build-windows.sh
# first): a portable ZIP (program, "Language" and "Setting.ini" side by side)
# and an NSIS installer, both in build-windows/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if ! command -v makensis >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nsis
fi

version=$(sed -n 's/^project(TarvexScale VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=build-windows/package/tarvex-scale-$version-win64
rm -rf build-windows/package
cmake --install build-windows --prefix "$stage" --strip >/dev/null
cp resources/tarvex-scale.ico build-windows/package/
# Windows' own tools (Notepad before 2018 among them) expect CRLF line ends;
# the program reads both.
for f in "$stage"/Setting.ini "$stage"/Language/*.ini "$stage"/LICENSE "$stage"/THIRD-PARTY-NOTICES.txt; do
  sed -i 's/\r*$/\r/' "$f"
done

(cd build-windows/package && rm -f "../tarvex-scale-$version-win64.zip" &&
  cmake -E tar cf "../tarvex-scale-$version-win64.zip" --format=zip "tarvex-scale-$version-win64")
makensis -V2 -DVERSION="$version" -DSTAGE="$root/$stage" \
  -DOUTFILE="$root/build-windows/tarvex-scale-$version-setup.exe" packaging/windows/tarvex-scale.nsi
for f in build-windows/tarvex-scale-$version-win64.zip build-windows/tarvex-scale-$version-setup.exe; do
  echo "Packaged $f ($(stat -c %s "$f") bytes)"
done
