# What the Windows build needs beyond the common lists: SDL 1.2 cross-built
# for Windows (scripts/build-windows.sh makes it), stb_image compiled from
# its header, GoogleTest from its sources, and wine to run the tests.

set(ROBOT_SDL_PREFIX "${CMAKE_BINARY_DIR}/sdl" CACHE PATH
    "Folder where SDL 1.2 for Windows is installed (bin/SDL.dll, include/SDL, lib)")
find_path(ROBOT_SDL_INCLUDE_DIR SDL.h PATHS ${ROBOT_SDL_PREFIX}/include/SDL NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
find_file(ROBOT_SDL_IMPORT_LIBRARY libSDL.dll.a PATHS ${ROBOT_SDL_PREFIX}/lib NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
find_file(ROBOT_SDL_MAIN_LIBRARY libSDLmain.a PATHS ${ROBOT_SDL_PREFIX}/lib NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
find_file(ROBOT_SDL_DLL SDL.dll PATHS ${ROBOT_SDL_PREFIX}/bin NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT ROBOT_SDL_INCLUDE_DIR OR NOT ROBOT_SDL_IMPORT_LIBRARY OR NOT ROBOT_SDL_MAIN_LIBRARY
   OR NOT ROBOT_SDL_DLL)
  message(FATAL_ERROR "No SDL 1.2 for Windows in ROBOT_SDL_PREFIX=${ROBOT_SDL_PREFIX}: "
                      "scripts/build-windows.sh builds it")
endif()
# sdl-config would add -mwindows; the program stays a console program, whose
# messages show in its console window. SDL's entry point (SDLmain) goes only
# into the program itself, where it calls the program's main.
add_library(robot_sdl INTERFACE IMPORTED)
set_target_properties(robot_sdl PROPERTIES
                      INTERFACE_INCLUDE_DIRECTORIES ${ROBOT_SDL_INCLUDE_DIR}
                      INTERFACE_LINK_LIBRARIES ${ROBOT_SDL_IMPORT_LIBRARY})
add_library(robot_sdl_main INTERFACE IMPORTED)
set_target_properties(robot_sdl_main PROPERTIES
                      INTERFACE_LINK_LIBRARIES
                      "mingw32;${ROBOT_SDL_MAIN_LIBRARY};${ROBOT_SDL_IMPORT_LIBRARY}")

# Every program, tool and test lands in one folder with SDL.dll, so that each
# of them starts from there as it would from the unpacked zip.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
file(COPY ${ROBOT_SDL_DLL} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

# Debian's libstb-dev holds a library for Linux only; its header is enough.
find_path(ROBOT_STB_INCLUDE_DIR stb_image.h PATHS /usr/include/stb NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT ROBOT_STB_INCLUDE_DIR)
  message(FATAL_ERROR "stb_image.h not found in /usr/include/stb (Debian's libstb-dev)")
endif()

# GoogleTest is built from the sources Debian's googletest package installs.
set(ROBOT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree")
if(ROBOT_TESTS STREQUAL "AUTO")
  if(EXISTS ${ROBOT_GOOGLETEST_SOURCE}/CMakeLists.txt)
    set(ROBOT_TESTS ON)
  else()
    set(ROBOT_TESTS OFF)
  endif()
endif()

if(CMAKE_CROSSCOMPILING)
  # The tests run under wine, in a wine prefix of the build's own that the
  # test command creates afresh for each run, in a folder wine/ that it makes
  # afresh too: wine makes no prefix in a folder that another user owns.
  # Tests are listed when they run, not at build time, when there is no
  # prefix yet. Wine maps Windows file names to the host's through the
  # host's locale, so the tests get a UTF-8 one whatever the machine has set.
  find_program(ROBOT_WINE wine REQUIRED)
  set(ROBOT_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/unit-tests CACHE PATH
      "The wine prefix in which the cross-built tests run")
  set(CMAKE_CROSSCOMPILING_EMULATOR env LC_ALL=C.UTF-8 WINEDEBUG=-all
                                    WINEPREFIX=${ROBOT_WINE_PREFIX} ${ROBOT_WINE})
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  # A program run from the build tree finds the source tree's data where wine
  # shows the host's files, on drive Z:.
  string(REPLACE "/" "\\\\" ROBOT_SOURCE_DATA_DIR "Z:${PROJECT_SOURCE_DIR}/data")
endif()
