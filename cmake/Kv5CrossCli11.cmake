# CLI11 for a cross build that finds none for the target. The library is header-only, so the
# build machine's headers serve the target; they are copied into the build tree on their own, so
# the target's compiler never sees the build machine's other headers.
if(TARGET CLI11::CLI11)
  return()
endif()
find_path(KV5_HOST_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include /usr/local/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT KV5_HOST_CLI11_INCLUDE)
  return()
endif()
set(kv5_cli11_copy "${CMAKE_BINARY_DIR}/cross-header-only")
file(COPY "${KV5_HOST_CLI11_INCLUDE}/CLI" DESTINATION "${kv5_cli11_copy}")
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
target_include_directories(CLI11::CLI11 INTERFACE "${kv5_cli11_copy}")
message(STATUS "CLI11: the build machine's headers from ${KV5_HOST_CLI11_INCLUDE}")
