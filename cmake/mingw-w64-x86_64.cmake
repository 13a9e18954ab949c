# Cross-build for 64-bit Windows with Debian's mingw-w64, run under Wine.
#
# The -posix compilers are required: the win32 thread model has no std::mutex or std::thread,
# and GoogleTest does not build without them. Everything is linked statically so that a test
# binary needs no DLL from the cross toolchain at run time.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test binaries run under Debian's wine64 (/usr/lib/wine/wine64: the package puts nothing on
# PATH) through wine-run, which keeps Wine's prefix inside the build folder. A 64-bit loader
# only: a 32-bit test binary under wine64 prints nothing and exits 0, a pass that tests nothing.
set(KELVANE_WINE_HOME "${CMAKE_BINARY_DIR}/wine" CACHE PATH "Wine home (prefix and HOME) of the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run;${KELVANE_WINE_HOME}")

# Listing a test binary's cases needs Wine; doing it when ctest runs keeps Wine out of the
# build, so the build can run as one user and the tests as another.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
