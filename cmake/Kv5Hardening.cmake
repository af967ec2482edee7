# The hardening a Linux distribution expects of its programs, as its own build flags give it: the
# C library's checked string and memory functions in optimised builds (they need the optimiser;
# the sanitizer presets build without them), and every symbol bound at start-up so that the
# relocations can be made read-only.
if(NOT WIN32)
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
