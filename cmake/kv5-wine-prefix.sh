#!/bin/sh
# Creates the Wine prefix the Windows tests run in: WINE, WINESERVER and WINEPREFIX come from the
# build. Everything Wine starts writes to the log, never to the caller's output pipe.
set -eu
log="${WINEPREFIX}-setup.log"
exec </dev/null >"$log" 2>&1
export WINEDEBUG=-all
"$WINE" wineboot -i
# No display is needed for windows, and no audio driver means no MIDI devices either.
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
"$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f
# The registry reaches the disk when the server ends; a persistent server started by the caller
# keeps it in memory, which serves the tests just as well.
touch "$WINEPREFIX/.kv5-ready"
