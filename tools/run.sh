#!/usr/bin/env bash
# Installs what is missing, builds, starts the scale simulator on a virtual
# serial port, maps COM1 to it in the build tree's "Setting.ini" and starts
# the program. Press "Connect" (COM1 or the automatic search) to see readings.
# Simulator options can follow, for example: ./tools/run.sh --rate 5 --script good:1.2,damaged,over
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tarvex-scale tarvex-scale-sim

bin="$PWD/build/bin"
link="$bin/scale-sim-port"
"$bin/tarvex-scale-sim" --link "$link" "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "the scale simulator did not start" >&2; exit 1; }

bash tools/map-simulator-port.sh "$bin/Setting.ini" "$link"
echo "Scale simulator on $(readlink "$link"), mapped to COM1 in $bin/Setting.ini"
"$bin/tarvex-scale"
