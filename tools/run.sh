#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [ ! -x build/bin/tarvex-scale ]; then
  echo "Built the weighing core and its tests; the window does not exist yet, so there is nothing to start."
  exit 0
fi
exec build/bin/tarvex-scale
