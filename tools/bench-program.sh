#!/usr/bin/env bash
# Whole-program bench: builds, then runs the program under Xvfb against a
# scale on a pseudo-terminal at 137 frames per second for 30 seconds.
# Options pass on, for example: tools/bench-program.sh --rate 50 --seconds 10
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tarvex-scale
python3 bench/program_bench.py build/bin "$@"
