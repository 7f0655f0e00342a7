#!/usr/bin/env bash
# Installs what is missing, builds, starts the scale simulator on a virtual
# serial port and the program from a demo folder (build/demo) whose
# "Setting.ini" maps COM1 to it. Press "Connect" (COM1 or the automatic search) to see readings.
# Simulator options can follow, for example: ./tools/run.sh --rate 5 --script good:1.2,damaged,over
# or another scale: ./tools/run.sh --protocol nci (mt-sics, toledo, nci, ascii); the program is set to it;
# or a USB postal scale: ./tools/run.sh --hid [--unit lb] (listed by its name after the COM ports).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tarvex-scale tarvex-scale-sim

bin="$PWD/build/bin"
# The demo runs from a folder of its own, so the build tree's "Setting.ini"
# keeps no mapping to the simulator and a plain start finds the real ports.
demo="$PWD/build/demo"
mkdir -p "$demo"
cp "$bin/tarvex-scale" "$demo/"
rm -rf "$demo/Language" && cp -r "$bin/Language" "$demo/Language"
[ -e "$demo/Setting.ini" ] || cp "$bin/Setting.ini" "$demo/Setting.ini"

if [ "${1:-}" = --hid ]; then
  # A USB scale laid out as Linux shows one, under a folder that stands for "/".
  shift
  root="$demo/usb-root"
  rm -rf "$root"
  "$bin/tarvex-scale-sim" --hid "$root" "$@" &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -d "$root/dev" ] && break; sleep 0.1; done
  echo "USB scale simulator under $root"
  TARVEX_HID_ROOT="$root" "$demo/tarvex-scale"
  exit
fi

link="$demo/scale-sim-port"
"$bin/tarvex-scale-sim" --link "$link" "$@" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "the scale simulator did not start" >&2; exit 1; }

protocol=frames
args=("$@")
for i in "${!args[@]}"; do
  [ "${args[$i]}" = --protocol ] && protocol=${args[$((i + 1))]:-frames}
done
bash tools/map-simulator-port.sh "$demo/Setting.ini" "$link" "$protocol"
echo "Scale simulator on $(readlink "$link"), mapped to COM1 in $demo/Setting.ini"
"$demo/tarvex-scale"
