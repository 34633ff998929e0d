#!/usr/bin/env bash
# Builds the program (in build-run/) and starts it from the repository root, where data/ is.
# On a machine without a reachable display it says so and runs a short demo
# under Xvfb instead: every camera, a little driving, PNG screenshots in
# screenshots/ (their paths are printed), then Escape.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=OFF -DROBOT_BENCH=OFF >/dev/null
cmake --build build-run -j2 --target robot

if [ -n "${DISPLAY:-}" ] && python3 scripts/headless_demo.py --check-display; then
    exec build-run/app/robot
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "No display (DISPLAY is not set): running a short demo under Xvfb instead."
else
    echo "The X server at DISPLAY=$DISPLAY does not answer: running a short demo under Xvfb instead."
fi
bash scripts/ensure-packages.sh "${DEMO_PACKAGES[@]}"
exec python3 scripts/headless_demo.py build-run/app/robot screenshots
