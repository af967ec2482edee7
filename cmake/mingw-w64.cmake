# Cross build for 64-bit Windows with mingw-w64; the programs and tests run under Wine.
#
# The posix thread variant of the compilers is the one with std::thread, std::mutex and
# std::condition_variable. Everything links statically, so no runtime DLL has to travel with the
# programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV5_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KV5_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV5_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KV5_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KV5_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine with a prefix of their own inside the build tree, so nothing is
# written to the home folder. Debian's wine64 package installs the loader under /usr/lib/wine.
find_program(KV5_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CACHE)
if(KV5_WINE)
  get_filename_component(KV5_WINE_DIR "${KV5_WINE}" DIRECTORY)
  find_program(KV5_WINESERVER NAMES wineserver wineserver64 HINTS "${KV5_WINE_DIR}" PATHS /usr/lib/wine
               NO_CACHE)
  set(KV5_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${KV5_WINEPREFIX} WINEDEBUG=-all ${KV5_WINE})
endif()

# Test discovery runs the test programs; under Wine it waits for ctest, where the prefix is ready.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
