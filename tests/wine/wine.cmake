# The Windows unit tests run under wine: the toolchain's emulator (wine) runs
# each test executable, in a prefix that the ctest fixture "wine" clones from
# the cached template and whose server it starts before the first test and
# stops after the last. The prefix has a removable drive R: and a fixed drive
# H: on folders of the build tree, for the tests of the real drive layer.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(FLASHDROP_WINEHELPER ${CMAKE_CURRENT_LIST_DIR}/winehelper.py)
set(FLASHDROP_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(FLASHDROP_WINE_DRIVE_R ${CMAKE_BINARY_DIR}/wine-drive-r)
set(FLASHDROP_WINE_DRIVE_H ${CMAKE_BINARY_DIR}/wine-drive-h)

add_test(NAME wine_start COMMAND ${Python3_EXECUTABLE} ${FLASHDROP_WINEHELPER}
  start ${FLASHDROP_WINE_PREFIX} --drive r=floppy:${FLASHDROP_WINE_DRIVE_R}
  --drive h=hd:${FLASHDROP_WINE_DRIVE_H})
add_test(NAME wine_stop COMMAND ${Python3_EXECUTABLE} ${FLASHDROP_WINEHELPER}
  stop ${FLASHDROP_WINE_PREFIX})
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# Links the test executable `name` as flashdrop.exe is linked and runs its
# ctest test of the same name in the fixture's prefix.
function(flashdrop_wine_test name)
  flashdrop_windows_executable(${name})
  target_compile_options(${name} PRIVATE
    -include ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/posix_env_win32.h)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    ENVIRONMENT "WINEPREFIX=${FLASHDROP_WINE_PREFIX};WINEDEBUG=-all;LC_ALL=C.UTF-8")
endfunction()
