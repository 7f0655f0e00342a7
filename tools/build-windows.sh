#!/usr/bin/env bash
# Cross-builds the Windows program on Debian 12: its libraries first
# (tools/build-windows-deps.sh, cached), then build-windows/bin/tarvex-scale.exe
# with "Language" and "Setting.ini" beside it, the portable ZIP and the installer.
#
#   tools/build-windows.sh            cache: $TARVEX_CACHE or ~/.cache/tarvex-windows
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
host=x86_64-w64-mingw32

prefix=$(bash "$root/tools/build-windows-deps.sh")

echo "== tarvex-scale.exe"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/tools/mingw-w64.cmake" -DTARVEX_WINDOWS_PREFIX="$prefix" \
  -DwxWidgets_CONFIG_EXECUTABLE="$prefix/bin/wx-config" -DTARVEX_BUILD_BENCH=OFF -DTARVEX_BUILD_TESTS=ON >/dev/null
cmake --build build-windows
# The program brings no DLL of its own: everything but Windows' own is inside.
imports=$($host-objdump -p build-windows/bin/tarvex-scale.exe | awk '/DLL Name:/ {print $3}' | sort -u)
foreign=$(echo "$imports" | grep -Ei '^(lib|pq|wx|xlsx)' || true)
if [ -n "$foreign" ]; then
  echo "build-windows: tarvex-scale.exe needs DLLs that are not Windows' own: $foreign" >&2
  exit 1
fi
echo "Built $(ls build-windows/bin/tarvex-scale.exe), importing only: $(echo $imports)"

# The portable ZIP and the installer.
bash tools/package-windows.sh
