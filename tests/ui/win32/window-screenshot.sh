#!/bin/sh
# Takes the updater window's picture on a virtual X server. The tests' own Wine prefix has no
# display driver, so the picture is taken in a prefix of its own with Wine's X11 driver, which
# draws the window frames itself since no window manager runs.
# Usage: window-screenshot.sh <wine> <wineserver> <prefix> <screenshot.exe> <out.png>
set -eu
if [ "${1:-}" != "--on-display" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" --on-display "$@"
fi
shift
wine=$1
wineserver=$2
export WINEPREFIX="$3"
program=$4
out=$5
export WINEDEBUG=-all

if [ ! -f "$WINEPREFIX/.kv5-ready" ]; then
  {
    "$wine" wineboot -i
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  } </dev/null >"$WINEPREFIX-setup.log" 2>&1
  touch "$WINEPREFIX/.kv5-ready"
fi
# Wine draws the title bar's buttons with the Marlett font of Debian's fonts-wine, but this Wine
# does not look in the folder the package puts it in; a copy in the prefix's font folder is found.
marlett=/usr/share/wine/fonts/marlett.ttf
[ -f "$marlett" ] || { echo "window-screenshot: no $marlett (package fonts-wine)" >&2; exit 1; }
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
status=0
"$wine" "$program" "$out" </dev/null || status=$?
# The display goes away with this script: so must everything Wine started on it.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
exit $status
