#!/bin/bash
# usb-page-rounds.sh RELEASE-BUILD WEB-BUILD [ROUNDS] [SIZES] [LIMIT-S]
#
# How often the page's update of a unit on USB succeeds on Linux, with the sequencer's bridge to
# the card at its default output buffer and with it raised (bench/README.md): one boot of the
# sequencer machine with a USB MIDI unit (tests/alsa/run-in-vm.sh --host-root --usb-midi),
# Debian's Chromium from this machine, for each output_buffer_size of snd_seq_midi in SIZES
# (default "4096 65536") ROUNDS updates (default 5) through the card "TELVOR Q9", each of a fresh
# virtual unit on the gadget's side, each given LIMIT-S seconds (default 240). Prints a line per
# update and a RESULT line per size.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
if [ "${1:-}" = --guest ]; then
  # In the guest: loopback up for the page's server, /dev/fd for bash and Chromium, and the
  # sound cards marked as udev marks them (without that entry Chromium lists no card's port).
  ip link set lo up
  [ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd
  mkdir -p /run/udev/data
  for card in /sys/class/sound/card*; do
    echo "E:SOUND_INITIALIZED=1" >"/run/udev/data/+sound:${card##*/}"
  done
  cd /tmp
  exec node "$here/usb-page-rounds.mjs" "$2" "$3"
fi
release=$(readlink -f "$1")
web=$(readlink -f "$2")
rounds=${3:-5}
sizes=${4:-4096 65536}
limit=${5:-240}
exec "$here/../../tests/alsa/run-in-vm.sh" --cache "$release/alsa-vm-cache" --host-root --usb-midi \
  --memory 2048 --timeout $((300 + 2 * (limit + 60) * rounds)) --env "ROUNDS=$rounds" --env "SIZES=$sizes" \
  --env "LIMIT_S=$limit" \
  "$here/usb-page-rounds.sh" --guest "$web/site" "$release"
