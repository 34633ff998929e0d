#!/usr/bin/env bash
# Builds the program and starts it from the repository root, where data/ is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=OFF -DROBOT_BENCH=OFF >/dev/null
cmake --build build -j2
if [ -x build/app/robot ]; then
    exec build/app/robot
fi
exec build/tools/ase-inspect data/robot.ase
