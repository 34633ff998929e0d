#!/usr/bin/env bash
# Builds everything and runs the whole test suite: unit and end-to-end tests,
# the same tests again under AddressSanitizer and UBSan, a short run of every
# fuzz target, and then the Windows build's unit and end-to-end tests under
# wine (scripts/build-windows.sh). Installs missing Debian packages first.
#   FUZZ_SECONDS (default 60) sets the length of each fuzz run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/packages.sh
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
    "${WINDOWS_PACKAGES[@]}"

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
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
run_ctest build

echo "== build and test under AddressSanitizer and UBSan (clang)"
# Built with clang, whose UBSan reports faults that GCC's misses. A folder
# configured earlier with another compiler is started afresh.
if [ -f build-asan/CMakeCache.txt ] &&
    ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' build-asan/CMakeCache.txt; then
    rm -rf build-asan
fi
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DROBOT_SANITIZE=ON -DROBOT_BENCH=OFF -DROBOT_TESTS=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-asan -LE no-sanitize

echo "== fuzz smoke runs (${fuzz_seconds} s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_FUZZ=ON \
    -DROBOT_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
# Every sanitizer report ends a fuzz run with a failure; the input that caused
# it is kept here and named.
artifacts="$root/build-fuzz/artifacts"
mkdir -p "$artifacts"
fuzz_failed=0
for target in build-fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus_seed="fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    log="$artifacts/$name.log"
    echo "-- $name"
    status=0
    "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts/$name-" "$work" "$corpus_seed" >"$log" 2>&1 || status=$?
    rm -rf "$work"
    if [ "$status" -eq 0 ] && ! grep -q 'runtime error:\|ERROR: [A-Za-z]*Sanitizer' "$log"; then
        tail -n 12 "$log"
        passed=$((passed + 1))
        continue
    fi
    fuzz_failed=$((fuzz_failed + 1))
    # The report from its first line, then the input that was kept.
    awk '/runtime error:|ERROR: [A-Za-z]*Sanitizer|ERROR: libFuzzer/ { on = 1 } on && n++ < 60' "$log"
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    echo "FAILED: $name (exit status $status); full log: $log"
    echo "FAILED: $name: crashing input kept as ${input:-(none written)}"
done
echo "== Windows: cross-build, zip, unit and end-to-end tests under wine"
# The Windows program's pictures are compared with those of the Linux
# program built above. The wine prefixes are made afresh for each run, before
# the first test starts in them, and their wine servers are ended at the end.
bash scripts/build-windows.sh -DROBOT_TESTS=ON -DROBOT_LINUX_PROGRAM="$root/build/app/robot"
# The unit tests and the end-to-end tests have a prefix each.
wine_prefixes=("$root/build-windows/wine-prefix" "$root/build-windows/wine-prefix-e2e")
# Their wine servers end with the run, also when a test fails.
stop_wine() {
    for prefix in "${wine_prefixes[@]}"; do
        WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    done
}
trap stop_wine EXIT
making=()
for prefix in "${wine_prefixes[@]}"; do
    rm -rf "$prefix"
    (export WINEPREFIX="$prefix" WINEDEBUG=-all && unset DISPLAY &&
        wineboot -i >/dev/null 2>&1 && wineserver -w) &
    making+=($!)
done
for pid in "${making[@]}"; do
    wait "$pid" || { echo "FAILED: wine could not make its prefix (wineboot -i)"; exit 1; }
done
run_ctest build-windows
stop_wine
trap - EXIT

if [ "$fuzz_failed" -gt 0 ]; then
    echo "Tests: $passed passed, $fuzz_failed failed"
    exit 1
fi
echo "== all tests passed"
echo "Tests: $passed passed, 0 failed"
