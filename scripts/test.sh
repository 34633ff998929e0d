#!/usr/bin/env bash
# Builds everything and runs the whole test suite: unit and end-to-end tests,
# the same tests again under AddressSanitizer and UBSan, and a short run of
# every fuzz target. Installs missing Debian packages first.
#   FUZZ_SECONDS (default 60) sets the length of each fuzz run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=2
fuzz_seconds=${FUZZ_SECONDS:-60}
passed=0
# Runs ctest in the given build folder and adds its count to the total; a
# failing test fails the whole run.
run_ctest() {
    local dir=$1
    shift
    local log
    log=$(mktemp)
    (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") | tee "$log"
    local total
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
    rm -f "$log"
    passed=$((passed + ${total:-0}))
}

echo "== build and test (release with debug info)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
run_ctest build

echo "== build and test under AddressSanitizer and UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DROBOT_SANITIZE=ON -DROBOT_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-asan -LE no-sanitize

echo "== fuzz smoke runs (${fuzz_seconds} s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_FUZZ=ON \
    -DROBOT_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
for target in build-fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus_seed="fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    echo "-- $name"
    "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
        "$work" "$corpus_seed" 2>&1 | tail -n 12
    rm -rf "$work"
    passed=$((passed + 1))
done
echo "== all tests passed"
echo "Tests: $passed passed, 0 failed"
