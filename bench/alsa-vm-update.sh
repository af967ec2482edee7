#!/bin/bash
# alsa-vm-update.sh [BUILD-DIR] [ROUNDS]
#
# A whole update in the sequencer test machine (tests/alsa/run-in-vm.sh), two ways, ROUNDS times
# each (default 3), alternating: between two sequencer clients (kv5update to the virtual unit's
# client), and through a card's raw MIDI device (kv5update writes the virtual raw MIDI card's raw
# device, whose sequencer port is connected to the unit; the replies come back on the sequencer).
# Prints each update's wall time, the medians and their ratio (raw device / sequencer), then where
# the time of one message goes on each way (kv5_raw_split). A measurement, never a test: the guest
# is emulated, so only the ratios mean much.
# BUILD-DIR defaults to build/release (built with the tests: it needs kv5_seq_connect and
# kv5_raw_split).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(readlink -f "${1:-$ROOT/build/release}")
ROUNDS=${2:-3}
for program in tools/q9unit/q9-unit tools/kv5update/kv5update tests/alsa/kv5_seq_connect \
  tests/alsa/kv5_raw_split; do
  [ -x "$BUILD/$program" ] || { echo "alsa-vm-update: no $BUILD/$program; build first" >&2; exit 2; }
done
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
"$ROOT/tests/alsa/run-in-vm.sh" --cache "$BUILD/alsa-vm-cache" --timeout 600 \
  --env "ROUNDS=$ROUNDS" "$ROOT/bench/alsa-vm-update-guest.sh" \
  "$BUILD/tools/q9unit/q9-unit" "$BUILD/tools/kv5update/kv5update" \
  "$BUILD/tests/alsa/kv5_seq_connect" "$BUILD/tests/alsa/kv5_raw_split" | tee "$LOG" |
  grep -E -A12 "^(bench|split|FAILED)" || true
awk '/^bench seq / { s[ns++] = $3 } /^bench raw / { r[nr++] = $3 }
  function median(a, n,   i, j, t) {
    for (i = 0; i < n; i++) for (j = i + 1; j < n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[int(n / 2)] : (a[n / 2 - 1] + a[n / 2]) / 2
  }
  END {
    if (ns == 0 || nr == 0) { print "alsa-vm-update: no figures (see the guest log)"; exit 1 }
    ms = median(s, ns); mr = median(r, nr)
    printf "median update: %.2f s between sequencer clients, %.2f s through the raw MIDI device; ratio %.3f\n", ms, mr, mr / ms
  }' "$LOG"
