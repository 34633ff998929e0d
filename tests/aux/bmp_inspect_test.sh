#!/usr/bin/env bash
# Runs bmp-inspect the way a user would: on the program's own bitmaps (which
# must decode, at the sizes the scene and the robot expect), on a missing file
# and with bad arguments. A third argument, the emulator of a cross-built
# tool (a list separated by semicolons, as CMake gives it), runs it.
set -euo pipefail
data=$2
IFS=';' read -r -a tool <<<"${3:-}"
tool+=("$1")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

expect_size() {
    local file=$1 width=$2 height=$3
    "${tool[@]}" --raw "$out/pixels.raw" --ppm "$out/view.ppm" "$data/$file" >"$out/report"
    grep -q "verdict:       decoded, $width x $height" "$out/report"
    [ "$(stat -c %s "$out/pixels.raw")" -eq $((width * height * 3)) ]
    head -c 2 "$out/view.ppm" | grep -q P6
}
expect_size grasstex.bmp 256 256
expect_size robot.bmp 128 128
expect_size robotface.bmp 64 64
grep -q "bits/pixel:    8" <("${tool[@]}" "$data/robot.bmp")

status=0
"${tool[@]}" "$out/missing.bmp" >"$out/report" || status=$?
[ "$status" -eq 1 ]
grep -q "refused: Failed to open DIB file $out/missing.bmp." "$out/report"

status=0
"${tool[@]}" --raw 2>/dev/null || status=$?
[ "$status" -eq 2 ]
status=0
"${tool[@]}" a.bmp b.bmp 2>/dev/null || status=$?
[ "$status" -eq 2 ]
echo "bmp-inspect: all checks passed"
