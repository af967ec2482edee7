# Tests of the Windows cross build: GoogleTest compiled for the target, and the Wine prefix the
# test programs run in.

include(Kv5GTestFromSource)

if(NOT KV5_WINE)
  message(WARNING "Wine not found: the Windows tests build but cannot run here")
  return()
endif()

# The prefix is made once, when the build first needs it: wineboot creates it, then the null
# graphics driver lets windows exist without a display and no audio driver means no MIDI devices.
# Output goes to a log, so the build does not wait for Wine's background processes, which would
# otherwise hold the build's output pipe open.
set(KV5_WINE_STAMP "${KV5_WINEPREFIX}/.kv5-ready")
add_custom_command(
  OUTPUT "${KV5_WINE_STAMP}"
  COMMAND "${CMAKE_COMMAND}" -E env "WINE=${KV5_WINE}" "WINESERVER=${KV5_WINESERVER}"
          "WINEPREFIX=${KV5_WINEPREFIX}" sh "${KV5_SOURCE_ROOT}/cmake/kv5-wine-prefix.sh"
  COMMENT "Preparing the Wine prefix for the tests"
  VERBATIM)
add_custom_target(kv5_wine_prefix ALL DEPENDS "${KV5_WINE_STAMP}")
