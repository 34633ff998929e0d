# End-to-end tests of the Windows program: robot.exe from the zip that
# scripts/build-windows.sh writes, unpacked in a fresh folder for each run,
# under wine in a private Xvfb. They run in a wine prefix of their own, apart
# from the unit tests, which have no display: a wine server's first program
# opens the desktop on its display for all that follow. So they take turns,
# and each ends its wine server at its end. They compare their pictures with
# the Linux program's when ROBOT_LINUX_PROGRAM names it.
# Python runs as a plain command: an executable target would be run under
# the emulator (wine).
set(ROBOT_WINDOWS_ZIP ${PROJECT_SOURCE_DIR}/dist/robot-windows-x86_64.zip CACHE FILEPATH
    "The Windows zip whose program the end-to-end tests run")
set(ROBOT_E2E_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine/e2e-tests CACHE PATH
    "The wine prefix of the end-to-end tests (made by the first when missing)")
set(ROBOT_LINUX_PROGRAM "" CACHE FILEPATH
    "The Linux program whose pictures the Windows program's must match (optional)")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(linux_program)
if(ROBOT_LINUX_PROGRAM)
  set(linux_program --linux-program ${ROBOT_LINUX_PROGRAM})
endif()
foreach(test escape missing_texture cameras drive own_model)
  add_test(NAME e2e-windows.${test}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/windows_e2e.py ${test}
                   --zip ${ROBOT_WINDOWS_ZIP} --wine-prefix ${ROBOT_E2E_WINE_PREFIX}
                   --out ${CMAKE_CURRENT_BINARY_DIR}/out ${linux_program})
  set_tests_properties(e2e-windows.${test} PROPERTIES LABELS "e2e;windows" TIMEOUT 180
                       RESOURCE_LOCK wine_display)
endforeach()
