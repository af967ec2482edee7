#!/bin/bash
# wine-update-test.sh RELEASE_BUILD WINDOWS_BUILD [verbose|failed-update|checks=N]
#
# The Windows build's update through Wine's winmm over a real ALSA sequencer, in one boot of the
# sequencer machine with this machine's root (tests/alsa/run-in-vm.sh --host-root, guest-update.sh),
# whose kernel it shares with the release build's guest tests (their cache). The Wine prefix is
# one of its own, made here once: the tests' prefix has no audio driver, so no MIDI devices, while
# this one keeps Wine's default (the ALSA driver) and only turns the display off. The guest also
# has a unit on USB (run-in-vm.sh --usb-midi), which kv5update.exe updates through its card last.
# Exit status as run-in-vm.sh's: 0 passed, 77 skipped (no qemu), anything else failed.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
release=$(readlink -f "$1")
windows=$(readlink -f "$2")
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[ -x "$wine" ] || { echo "wine-update-test: no Wine here; skipped" >&2; exit 77; }
for f in "$release/tools/q9unit/q9-unit" "$release/tools/kv5update/kv5update" \
  "$windows/tools/kv5update/kv5update.exe" "$windows/tests/wine/wine_window_update.exe"; do
  [ -f "$f" ] || { echo "wine-update-test: $f is not built" >&2; exit 1; }
done

prefix=$windows/wineprefix-midi
if [ ! -f "$prefix/.kv5-ready" ]; then
  echo "wine-update-test: making the Wine prefix $prefix" >&2
  rm -rf "$prefix"
  (
    export WINEPREFIX=$prefix WINEDEBUG=-all
    "$wine" wineboot -i
    "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    # The registry reaches the disk when this prefix's server ends.
    "$wineserver" -w
  ) </dev/null >"$prefix-setup.log" 2>&1
  touch "$prefix/.kv5-ready"
fi
# A loop of N checks (checks=N) gets a minute for each beside the guest's start.
limit=600
case ${3:-} in checks=*) limit=$((300 + 60 * ${3#checks=})) ;; esac
exec "$here/../alsa/run-in-vm.sh" --cache "$release/alsa-vm-cache" --prefix "$prefix" --usb-midi \
  --memory 2048 --timeout "$limit" "$here/guest-update.sh" "$release" "$windows" "${3:-}"
