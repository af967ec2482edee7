#!/bin/bash
# web-guest-test.sh RELEASE-BUILD WEB-BUILD [--rounds N] [--screenshots DIR] [--log FILE]
#
# The page's tests in a real browser on a real MIDI transport: one boot of the sequencer machine
# with this machine's root (tests/alsa/run-in-vm.sh --host-root, the release build's kernel
# cache), Debian's Chromium and Node from this machine, the virtual unit and kv5update of the
# release build, the page of the web build (<web>/site). See guest-page-test.mjs for what runs.
# --rounds N: N updates each of the browser and of kv5update (the figures of bench/README.md);
# --screenshots DIR: the pictures of the page (ready, updating, report) into DIR.
# Exit status as run-in-vm.sh's: 0 passed, 77 skipped (no qemu), anything else failed.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
release=$(readlink -f "$1")
web=$(readlink -f "$2")
shift 2
rounds=1
shots=
log=
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --screenshots) shots=$(readlink -f "$2"); shift 2 ;;
    --log) log=$2; shift 2 ;;
    *) echo "web-guest-test: unknown option $1" >&2; exit 2 ;;
  esac
done
for f in "$release/tools/q9unit/q9-unit" "$release/tools/kv5update/kv5update" \
  "$web/site/index.html" "$web/site/kv5updater.wasm"; do
  [ -f "$f" ] || { echo "web-guest-test: $f is not built" >&2; exit 1; }
done
for tool in /usr/lib/chromium/chromium node; do
  command -v "$tool" >/dev/null ||
    { echo "web-guest-test: $tool missing (apt install chromium nodejs); skipped" >&2; exit 77; }
done
[ -n "$log" ] || { log=$(mktemp); trap 'rm -f "$log"' EXIT; }
# A minute for the machine and the browser to start, and a few for each round.
limit=$((300 + 120 * rounds))
status=0
"$here/../alsa/run-in-vm.sh" --cache "$release/alsa-vm-cache" --host-root --memory 2048 \
  --timeout "$limit" --env "ROUNDS=$rounds" --env "SCREENSHOTS=${shots:+1}" \
  "$here/guest-page-tests.sh" "$web/site" "$release" 2>&1 | tee "$log" | grep -v '^@@PNG ' ||
  status=${PIPESTATUS[0]}
if [ -n "$shots" ]; then
  mkdir -p "$shots"
  for name in $(tr -d '\r' <"$log" | awk '/^@@PNG / { print $2 }' | sort -u); do
    tr -d '\r' <"$log" | awk -v n="$name" '$1 == "@@PNG" && $2 == n { printf "%s", $3 }' |
      base64 -d >"$shots/web-$name.png"
  done
fi
exit "$status"
