#!/usr/bin/env bash
# Builds the program (in build-run/) and starts it from the repository root, where data/ is.
# Arguments go to the program: scripts/run.sh [--up z|y] MODEL.ase shows that
# model, and then the program starts in the folder run.sh was called from, so
# that MODEL.ase is found from there.
# On a machine without a reachable display it says so and runs a short demo
# under Xvfb instead: every camera, a little driving, PNG screenshots in
# screenshots/ (their paths are printed), then Escape.
set -euo pipefail
caller=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"
cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=OFF -DROBOT_BENCH=OFF >/dev/null
cmake --build build-run -j2 --target robot

program="$root/build-run/app/robot"
if [ $# -gt 0 ]; then
    cd "$caller"
fi
for arg in "$@"; do
    # The usage text needs no display.
    if [ "$arg" = "--help" ] || [ "$arg" = "-h" ]; then
        exec "$program" "$@"
    fi
done
if [ -n "${DISPLAY:-}" ] && python3 "$root/scripts/headless_demo.py" --check-display; then
    exec "$program" "$@"
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "No display (DISPLAY is not set): running a short demo under Xvfb instead."
else
    echo "The X server at DISPLAY=$DISPLAY does not answer: running a short demo under Xvfb instead."
fi
bash "$root/scripts/ensure-packages.sh" "${DEMO_PACKAGES[@]}"
exec python3 "$root/scripts/headless_demo.py" "$program" "$root/screenshots" "$@"
