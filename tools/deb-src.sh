#!/usr/bin/env bash
# Makes Debian's source packages reachable (deb-src lines) when the named
# source package cannot be found yet.
#
#   tools/deb-src.sh SOURCE_PACKAGE
set -euo pipefail
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if [ -z "$(apt-cache showsrc "$1" 2>/dev/null)" ]; then
  $SUDO tee /etc/apt/sources.list.d/tarvex-deb-src.sources >/dev/null <<'EOF2'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF2
  $SUDO apt-get update -qq
fi
