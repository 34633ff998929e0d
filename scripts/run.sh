#!/usr/bin/env bash
# Usage: scripts/run.sh [--up z|y] [MODEL.ase]
#
# Installs the Debian packages it misses (scripts/ensure-packages.sh; without
# root and sudo it names them all and the command that installs them),
# builds the program in build-run/ (one line; the build's output is in
# build-logs/run-build.log) and starts it from the checkout's top folder,
# where data/ is. Arguments go to the program: with MODEL.ase it shows that
# model, and the program starts in the folder run.sh was called from, so that
# MODEL.ase is named from there. The program's own usage:
# build-run/app/robot --help.
#
# On a machine without a reachable display it says so and runs a short demo
# under Xvfb instead: every camera, a little driving, PNG screenshots in
# screenshots/ (their paths are printed), then Escape.
set -euo pipefail
source "$(dirname "$0")/common.sh"
if wants_help "$@"; then
    script_help "$0"
    exit 0
fi
cd "$root"
source scripts/packages.sh
trap hand_back_checkout EXIT

# A display that answers shows the program; without one the demo needs its
# own packages, asked for in the same round as the build's. Without Python
# yet a named display is taken to answer.
display=no
if [ -n "${DISPLAY:-}" ]; then
    if ! command -v python3 >/dev/null ||
        python3 scripts/headless_demo.py --check-display 2>/dev/null; then
        display=yes
    fi
fi
needed=("${BUILD_PACKAGES[@]}")
[ "$display" = yes ] || needed+=("${DEMO_PACKAGES[@]}")
bash scripts/ensure-packages.sh "${needed[@]}"

mkdir -p build-logs
log=build-logs/run-build.log
started=$SECONDS
printf 'Building the program in build-run/: '
if ! { cmake -S . -B build-run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=OFF \
    -DROBOT_BENCH=OFF && cmake --build build-run -j2 --target robot; } >"$log" 2>&1; then
    echo "FAILED; the whole output is in $(shown_path "$log"), its end:"
    tail -n 20 "$log"
    exit 1
fi
echo "done, $(time_since "$started")"

program="$root/build-run/app/robot"
# A display taken to answer before Python was there is asked now.
if [ "$display" = yes ] && ! python3 scripts/headless_demo.py --check-display 2>/dev/null; then
    display=no
    bash scripts/ensure-packages.sh "${DEMO_PACKAGES[@]}"
fi
if [ $# -gt 0 ]; then
    cd "$caller"
fi
if [ "$display" = yes ]; then
    hand_back_checkout
    trap - EXIT
    exec "$program" "$@"
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "No display (DISPLAY is not set): running a short demo under Xvfb instead."
else
    echo "The X server at DISPLAY=$DISPLAY does not answer:" \
        "running a short demo under Xvfb instead."
fi
status=0
python3 "$root/scripts/headless_demo.py" --paths-from "$caller" "$program" "$root/screenshots" \
    "$@" || status=$?
exit $status
