#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run;
# with --windows also what cross-builds the Windows program and tests it
# under Wine. Quick when everything is already there: apt is only called for
# what is missing.
#
#   tools/install-deps.sh [--windows]
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libwxgtk3.2-dev libxlsxwriter-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libgtk-3-dev libxtst-dev xvfb xauth x11-utils x11-xkb-utils x11-xserver-utils imagemagick fonts-wqy-microhei xdotool openbox python3-tk
  nlohmann-json3-dev dpkg-dev chromium ser2net iproute2
  libpq-dev postgresql libpcre2-dev libssl-dev openssl curl
  python3 python3-openpyxl python3-xlrd python3-olefile
  clang libclang-rt-14-dev llvm
  lintian desktop-file-utils appstream
)
if [ "${1:-}" = "--windows" ]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine wine64 nsis)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
