#!/usr/bin/env bash
# Cross-builds the Windows program and its tools on Debian 12 and writes
# dist/robot-windows-x86_64.zip: robot.exe, SDL.dll, data\ with the robot and
# the grass, ase-inspect.exe, bmp-inspect.exe and a short text on running it.
# Installs the Debian packages it misses first.
#
# SDL 1.2 for Windows is not packaged: Debian's own source package is fetched
# through a private sources file and private package lists (the system's own
# lists are not touched) and cross-built once into build-windows/sdl/, where
# later runs find it.
# Arguments go to CMake's configure step: -DROBOT_TESTS=ON also builds the
# unit and end-to-end tests (scripts/test.sh runs them under wine).
set -euo pipefail
source "$(dirname "$0")/common.sh"
if wants_help "$@"; then
    script_help "$0"
    exit 0
fi
cd "$root"
source scripts/packages.sh
trap hand_back_checkout EXIT
bash scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

jobs=2
build="$root/build-windows"
sdl="$build/sdl"
host=x86_64-w64-mingw32
mkdir -p "$build"

# The archive the system's own packages come from (not its security archive),
# from its sources list in either of apt's two formats.
debian_archive() {
    local uri=
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        uri=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++)
                                  if ($i !~ /security/) { print $i; exit } }' \
            /etc/apt/sources.list.d/debian.sources)
    fi
    if [ -z "$uri" ]; then
        uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk '$1 == "deb" && $0 !~ /security/ {
                     for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }')
    fi
    if [ -z "$uri" ]; then
        echo "No Debian archive found in the system's apt sources to fetch SDL's sources from" >&2
        exit 1
    fi
    echo "$uri"
}

build_sdl() {
    local work="$build/sdl-source"
    local log="$build/sdl-build.log"
    rm -rf "$work" "$sdl"
    mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
    cat >"$work/sources" <<EOF
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_archive) bookworm main
EOF
    local apt=(apt-get -q -o Dir::Etc::SourceList="$work/sources" -o Dir::Etc::SourceParts=/dev/null
               -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache")
    echo "Cross-building SDL 1.2 for Windows from Debian's source package (log: $log)"
    if ! (
        "${apt[@]}" update &&
            cd "$work" && "${apt[@]}" source --download-only libsdl1.2 &&
            tar -xzf libsdl1.2_*.orig.tar.gz && cd SDL-1.2.* &&
            # Without --disable-stdio-redirect SDL's entry point sends standard
            # output to a file stdout.txt instead of the console.
            ./configure --host=$host --prefix="$sdl" --disable-stdio-redirect &&
            make -j"$jobs" && make install
    ) >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "Building SDL for Windows failed; the whole log is in $log" >&2
        rm -rf "$sdl"
        exit 1
    fi
    rm -rf "$work"
}

if [ ! -f "$sdl/bin/SDL.dll" ] || [ ! -f "$sdl/lib/libSDLmain.a" ]; then
    build_sdl
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOT_SDL_PREFIX="$sdl" -DROBOT_BENCH=OFF \
    -DROBOT_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j"$jobs"

# The zip holds the program, its tools and its data at its top level, so that
# it unpacks into a folder from which robot.exe runs as it is; the programs
# without their debugging information.
stage="$build/zip"
rm -rf "$stage"
mkdir -p "$stage"
for file in "$build/bin/robot.exe" "$build/bin/ase-inspect.exe" "$build/bin/bmp-inspect.exe" \
    "$sdl/bin/SDL.dll"; do
    $host-strip -o "$stage/$(basename "$file")" "$file"
done
python3 scripts/make_windows_zip.py dist/robot-windows-x86_64.zip "$stage"/robot.exe \
    "$stage"/SDL.dll "$stage"/ase-inspect.exe "$stage"/bmp-inspect.exe \
    --data data --readme scripts/windows-readme.txt
echo "Wrote dist/robot-windows-x86_64.zip"
