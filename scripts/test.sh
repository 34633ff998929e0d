#!/usr/bin/env bash
# Builds everything and runs the whole test suite, in five stages:
#   1. the README's install line configures the program and tools alone
#   2. build with gcc; unit, GL-context and end-to-end tests (these start the
#      real program in a private Xvfb, on classic SDL 1.2 and on sdl12-compat)
#   3. the same build and tests under AddressSanitizer and UBSan (clang)
#   4. a short run of every fuzz target
#   5. the Windows build (scripts/build-windows.sh): its unit and end-to-end
#      tests under wine
# Installs the Debian packages it misses first (scripts/ensure-packages.sh).
# Prints one line per stage and ends with "Tests: N passed, M failed", naming
# every test and stage that failed, with what each failed test said; each
# stage's whole output goes to build-logs/test-STAGE.log. A test that fails
# runs once more: passing then, it is named apart. Exit status 0 only when
# everything passed.
#   FUZZ_SECONDS (default 60) sets the length of each fuzz run.
set -uo pipefail
source "$(dirname "$0")/common.sh"
if wants_help "$@"; then
    script_help "$0"
    exit 0
elif [ $# -gt 0 ]; then
    echo "scripts/test.sh takes no arguments; --help says what it does" >&2
    exit 2
fi
cd "$root"
source scripts/packages.sh

jobs=2
fuzz_seconds=${FUZZ_SECONDS:-60}
passed=0
failed=0
# What failed, for the summary: "names (stage)".
failures=()
# Tests that failed once and passed on their second run, and what their first
# run said.
flaky=()
flaky_reasons=
# The Windows tests' wine prefixes, one for the unit tests and one for the
# end-to-end tests, in a folder made afresh for each run by whoever runs it:
# wine makes no prefix in a folder that another user owns.
wine_dir="$root/build-windows/wine"
wine_prefixes=("$wine_dir/unit-tests" "$wine_dir/e2e-tests")

# Wine maps Windows file names to the host's through the host's locale: its
# runs get a UTF-8 one of their own, whatever the machine has (Debian's C
# library always has C.UTF-8).
wine_env=(env LC_ALL=C.UTF-8 WINEDEBUG=-all)

stop_wine() {
    local prefix
    for prefix in "${wine_prefixes[@]}"; do
        [ -d "$prefix" ] && "${wine_env[@]}" WINEPREFIX="$prefix" wineserver -k 2>/dev/null
    done
    return 0
}

# The summary line, whichever way the run ends.
finish() {
    local status=$?
    stop_wine
    hand_back_checkout
    if [ "$status" -ne 0 ] && [ ${#failures[@]} -eq 0 ]; then
        # Stopped from outside (Ctrl-C) or by a fault of this script.
        echo
        failures+=("stopped with status $status in stage $stage_number (${stage_name:-})")
    fi
    local line="Tests: $passed passed, $failed failed"
    if [ ${#failures[@]} -gt 0 ]; then
        local what
        line+=":"
        for what in "${failures[@]}"; do
            line+=" $what;"
        done
        line=${line%;}
        [ "$status" -ne 0 ] || status=1
    fi
    if [ ${#flaky[@]} -gt 0 ]; then
        echo "Passed only on a second run: ${flaky[*]}"
        printf '%s' "$flaky_reasons"
    fi
    echo "$line"
    exit "$status"
}
stage_number=0
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if ! bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
    "${WINDOWS_PACKAGES[@]}"; then
    failures+=("nothing built (Debian packages missing, see above)")
    exit 3
fi
mkdir -p build-logs

# Starts a stage: its line (finished by end_stage) and its log.
begin_stage() {
    stage_number=$((stage_number + 1))
    stage_name=$1
    stage_log=build-logs/test-$2.log
    stage_passed=0
    stage_failed=()
    stage_flaky=()
    stage_reasons=
    stage_problem=
    stage_started=$SECONDS
    : >"$stage_log"
    printf '[%d/5] %s: ' "$stage_number" "$stage_name"
}

end_stage() {
    local result="$stage_passed passed, ${#stage_failed[@]} failed"
    if [ -n "$stage_problem" ]; then
        result="$stage_problem; $result"
        failures+=("$stage_problem (stage $stage_number, $stage_name)")
    fi
    if [ ${#stage_failed[@]} -gt 0 ]; then
        result+=" (${stage_failed[*]})"
        failures+=("${stage_failed[*]} (stage $stage_number, $stage_name)")
    fi
    if [ ${#stage_flaky[@]} -gt 0 ]; then
        result+=" (passed on a second run: ${stage_flaky[*]})"
        flaky+=("${stage_flaky[*]} (stage $stage_number)")
    fi
    passed=$((passed + stage_passed))
    failed=$((failed + ${#stage_failed[@]}))
    echo "$result, $(time_since "$stage_started"); log: $(shown_path "$stage_log")"
    [ -z "$stage_reasons" ] || printf '%s' "$stage_reasons"
}

# Runs a command with its output added to the stage's log.
logged() {
    "$@" >>"$stage_log" 2>&1
}

# The names of the tests that ctest's output in file lists as failed.
failed_in() {
    sed -n '/The following tests FAILED:/,$ s/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' "$1"
}

# What ctest's output in file says of test: from its result line, up to 30
# lines of its own output (the reason, then the end of what the programs it
# ran printed), indented.
failure_reason() {
    awk -v name="$2" '
        $0 ~ ("Test +#[0-9]+: " name " \\.+.*(Failed|Timeout|Exception)") { on = 1; n = 0; next }
        on && (/^ *(Start +[0-9]+:|[0-9]+\/[0-9]+ Test +#)/ || n >= 30) { on = 0 }
        on && NF { print "    " $0; n++ }' "$1"
}

# Runs ctest in a build folder (further arguments go to ctest) and counts its
# tests into the stage's. The end-to-end tests start real programs in an X
# server on a shared machine, where a moment's stall can fail one: the tests
# that failed run once more, alone. One that passes then counts as passed and
# is named on the stage's line and in the summary, with what its first run
# said; one that fails again fails, with its reason shown below the stage.
run_ctest() {
    local dir=$1
    shift
    local out again
    out=$(mktemp)
    again=$(mktemp)
    (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") >"$out" 2>&1
    local status=$?
    cat "$out" >>"$stage_log"
    local total names
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$out" | tail -n 1)
    names=$(failed_in "$out")
    local name count=0 still
    if [ -n "$names" ]; then
        echo "-- the failed tests once more, alone" >>"$stage_log"
        (cd "$dir" && ctest --output-on-failure --rerun-failed "$@") >"$again" 2>&1
        cat "$again" >>"$stage_log"
        still=" $(failed_in "$again" | tr '\n' ' ') "
        # Without ctest's list the second run did not get as far as the tests.
        grep -q 'tests failed out of' "$again" || still=" $names "
    fi
    for name in $names; do
        if [[ "$still" == *" $name "* ]]; then
            stage_failed+=("$name")
            stage_reasons+="  $name:"$'\n'"$(failure_reason "$out" "$name")"$'\n'
            count=$((count + 1))
        else
            stage_flaky+=("$name")
            flaky_reasons+="  $name (stage $stage_number), its first run:"$'\n'
            flaky_reasons+="$(failure_reason "$out" "$name")"$'\n'
        fi
    done
    rm -f "$out" "$again"
    stage_passed=$((stage_passed + ${total:-0} - count))
    if [ "$status" -ne 0 ] && [ -z "$names" ]; then
        stage_problem="ctest in $dir failed (status $status)"
    fi
}

begin_stage "install line builds no tests" install-line
# Configured as the install line does (no options) in a folder of its own:
# the program and the tools are there, no tests, benchmarks or fuzz targets.
plain=$(mktemp -d)
if logged cmake -S . -B "$plain"; then
    if [ -d "$plain/app" ] && [ -d "$plain/tools" ] && [ ! -e "$plain/tests" ] &&
        [ ! -e "$plain/bench" ] && [ ! -e "$plain/fuzz" ]; then
        stage_passed=1
    else
        stage_failed=(install-line-builds-tests)
        ls "$plain" >>"$stage_log"
    fi
else
    stage_problem="configure failed"
fi
rm -rf "$plain"
end_stage

begin_stage "gcc build and tests" gcc
if logged cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_TESTS=ON \
    -DROBOT_BENCH=ON && logged cmake --build build -j"$jobs"; then
    run_ctest build
else
    stage_problem="build failed"
fi
end_stage

begin_stage "clang build and tests under ASan and UBSan" asan
# Built with clang, whose UBSan reports faults that GCC's misses. A folder
# configured earlier with another compiler is started afresh.
if [ -f build-asan/CMakeCache.txt ] &&
    ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' build-asan/CMakeCache.txt; then
    rm -rf build-asan
fi
if logged cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DROBOT_SANITIZE=ON -DROBOT_BENCH=OFF \
    -DROBOT_TESTS=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ &&
    logged cmake --build build-asan -j"$jobs"; then
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_ctest build-asan -LE no-sanitize
else
    stage_problem="build failed"
fi
end_stage

begin_stage "fuzz runs, ${fuzz_seconds} s each" fuzz
if logged env CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DROBOT_FUZZ=ON -DROBOT_TESTS=OFF -DROBOT_BENCH=OFF &&
    logged cmake --build build-fuzz -j"$jobs"; then
    # Every sanitizer report ends a fuzz run with a failure; the input that
    # caused it is kept here and named in the log.
    artifacts="$root/build-fuzz/artifacts"
    mkdir -p "$artifacts"
    for target in build-fuzz/fuzz/fuzz_*; do
        [ -x "$target" ] || continue
        name=$(basename "$target")
        corpus_seed="fuzz/corpus/${name#fuzz_}"
        work=$(mktemp -d)
        log="$artifacts/$name.log"
        status=0
        "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 -timeout=10 \
            -rss_limit_mb=2048 -artifact_prefix="$artifacts/$name-" "$work" "$corpus_seed" \
            >"$log" 2>&1 || status=$?
        rm -rf "$work"
        echo "-- $name" >>"$stage_log"
        if [ "$status" -eq 0 ] && ! grep -q 'runtime error:\|ERROR: [A-Za-z]*Sanitizer' "$log"; then
            tail -n 12 "$log" >>"$stage_log"
            stage_passed=$((stage_passed + 1))
            continue
        fi
        stage_failed+=("$name")
        # The report from its first line, then the input that was kept.
        awk '/runtime error:|ERROR: [A-Za-z]*Sanitizer|ERROR: libFuzzer/ { on = 1 }
             on && n++ < 60' "$log" >>"$stage_log"
        input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
        {
            echo "FAILED: $name (exit status $status); full log: $log"
            echo "FAILED: $name: crashing input kept as ${input:-(none written)}"
        } >>"$stage_log"
    done
else
    stage_problem="build failed"
fi
end_stage

begin_stage "Windows build and tests under wine" windows
# The Windows program's pictures are compared with those of the Linux program
# built above. The wine prefixes are made before the first test starts in
# them; their wine servers end with the run.
make_wine_prefixes() {
    local prefix pid making=() status=0
    rm -rf "$wine_dir"
    mkdir -p "$wine_dir"
    for prefix in "${wine_prefixes[@]}"; do
        (unset DISPLAY && "${wine_env[@]}" WINEPREFIX="$prefix" wineboot -i &&
            "${wine_env[@]}" WINEPREFIX="$prefix" wineserver -w) &
        making+=($!)
    done
    for pid in "${making[@]}"; do
        wait "$pid" || status=1
    done
    return $status
}
if ! logged "${wine_env[@]}" bash scripts/build-windows.sh -DROBOT_TESTS=ON \
    -DROBOT_LINUX_PROGRAM="$root/build/app/robot" -DROBOT_WINE_PREFIX="${wine_prefixes[0]}" \
    -DROBOT_E2E_WINE_PREFIX="${wine_prefixes[1]}"; then
    stage_problem="build failed"
elif ! logged make_wine_prefixes; then
    stage_problem="wine could not make its prefixes (wineboot -i)"
else
    LC_ALL=C.UTF-8 run_ctest build-windows
fi
stop_wine
end_stage
