#!/usr/bin/env bash
# Measures the program in a private Xvfb with Mesa's software renderer:
# start-up to the first frame, frames per second with the robot against no
# model file, and resident memory while the arrow keys are held.
#   scripts/measure.sh            memory over 2 minutes
#   scripts/measure.sh --full     memory over 10 minutes
# Other options go to scripts/measure.py (--runs N, --seconds S, --pairs P,
# --memory-minutes M, --only startup|fps|memory, --model MODEL.ase [--up z|y]).
#   scripts/measure.sh --only startup --model big.ase   start-up with a model of your own
set -euo pipefail
source "$(dirname "$0")/common.sh"
if wants_help "$@"; then
    script_help "$0"
    exit 0
fi
cd "$root"
source scripts/packages.sh
trap hand_back_checkout EXIT
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# The same build as the test command's; the frame probe comes with the tests.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=ON >/dev/null
cmake --build build -j2 --target robot frame_probe >/dev/null
args=()
previous=
for arg in "$@"; do
    if [ "$arg" = "--full" ]; then
        args+=(--memory-minutes 10)
    elif [ "$previous" = "--model" ] && [ "${arg#/}" = "$arg" ]; then
        # A model is named from where the script was called.
        args+=("$caller/$arg")
    else
        args+=("$arg")
    fi
    previous=$arg
done
python3 scripts/measure.py build/app/robot build/tests/e2e/libframe_probe.so "${args[@]}"
