# Package lists shared by the run and test commands.
BUILD_PACKAGES=(build-essential cmake pkg-config python3 libsdl1.2-dev libgl1-mesa-dev
                libglu1-mesa-dev libgl1-mesa-dri)
TEST_PACKAGES=(clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
               libegl-dev libegl-mesa0 xvfb xauth xdotool imagemagick x11-utils apitrace)
BENCH_PACKAGES=(python3 libbenchmark-dev libassimp-dev)
# The benchmark also times whole processes, as a user waits for them.
BENCH_PACKAGES+=(hyperfine)
# What the run command needs to show the program on a machine without a
# display; xauth for xvfb-run, which the program suggests when it has none.
DEMO_PACKAGES=(xvfb xauth xdotool imagemagick)
# The program decodes TGA, PNG and JPEG bitmaps of users' models with stb_image.
BUILD_PACKAGES+=(libstb-dev)
# The end-to-end tests run the program on sdl12-compat too (the SDL 1.2 that
# newer distributions ship), from its own folder beside the classic library.
TEST_PACKAGES+=(libsdl1.2-compat libsdl2-2.0-0)
# The installed desktop entry is validated and the ASE file type tried out.
TEST_PACKAGES+=(desktop-file-utils shared-mime-info libglib2.0-bin)
# The Windows build: cross compilers, wine to run its tests, and the header of
# stb_image, which it compiles itself. Its end-to-end tests also need the
# X tools of TEST_PACKAGES.
WINDOWS_PACKAGES=(mingw-w64 wine wine64 libstb-dev python3 cmake make)
