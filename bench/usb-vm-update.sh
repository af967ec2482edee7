#!/bin/bash
# usb-vm-update.sh [BUILD-DIR] [ROUNDS] [CUTS]
#
# Updates through a unit on USB in the test machine (tests/alsa/run-in-vm.sh --usb-midi: a USB
# MIDI gadget "TELVOR Q9" bound by the kernel's USB-MIDI driver, the virtual unit on the gadget's
# side), ROUNDS times each way (default 5), the ways in a new order every round:
#   usb     kv5update through the USB card (its raw MIDI device)
#   limit   the machine's own limit: a plain program (kv5_usb_raw_limit) writing the same messages
#           to the card's raw device, each followed by the wait for its answer
#   shared  kv5update through the USB card while another client is subscribed to its port (the
#           kernel's bridge holds the raw device; the update goes through the sequencer, paced)
#   seq     kv5update straight to a virtual unit's sequencer client, no USB
# then CUTS updates through the card (default 6) whose cable is pulled after 20 writes: the times
# until kv5update's message and until it has exited. Prints each figure and the medians. A
# measurement, never a test: the machine is emulated, so the ratios mean more than the times.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(readlink -f "${1:-$ROOT/build/release}")
ROUNDS=${2:-5}
CUTS=${3:-6}
for program in tools/q9unit/q9-unit tools/kv5update/kv5update bench/kv5_usb_raw_limit; do
  [ -x "$BUILD/$program" ] || { echo "usb-vm-update: no $BUILD/$program; build first" >&2; exit 2; }
done
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
"$ROOT/tests/alsa/run-in-vm.sh" --cache "$BUILD/alsa-vm-cache" --host-root --usb-midi \
  --memory 2048 --timeout 900 --env "ROUNDS=$ROUNDS" --env "CUTS=$CUTS" \
  "$ROOT/bench/usb-vm-update-guest.sh" "$BUILD" | tee "$LOG" | grep -E "^(bench|cut|FAILED)" || true
awk '/^bench / { v[$2, n[$2]++] = $3 }
  function median(way,   i, j, t, a, k) {
    k = n[way]; for (i = 0; i < k; i++) a[i] = v[way, i]
    for (i = 0; i < k; i++) for (j = i + 1; j < k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return k % 2 ? a[int(k / 2)] : (a[k / 2 - 1] + a[k / 2]) / 2
  }
  END {
    if (!n["usb"] || !n["limit"]) { print "usb-vm-update: no figures (see the guest log)"; exit 1 }
    u = median("usb"); l = median("limit"); s = median("shared"); q = median("seq")
    printf "medians: usb %.2f s, limit %.2f s, shared %.2f s, seq %.2f s\n", u, l, s, q
    printf "ratios: usb/limit %.2f, usb/seq %.2f, shared/usb %.2f\n", u / l, u / q, s / u
  }' "$LOG"
