# GoogleTest compiled for the target from the sources Debian ships (libgtest-dev), for cross builds
# whose target has no packaged GoogleTest: the Windows build and the web build.
set(KV5_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources built for the target")
if(NOT EXISTS "${KV5_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${KV5_GTEST_SOURCE_DIR} (Debian: libgtest-dev)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${KV5_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
