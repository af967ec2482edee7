#!/bin/bash
# Runs in the USB test machine for usb-vm-update.sh (run-in-vm.sh --host-root --usb-midi):
# ROUNDS rounds of the four ways, each on a fresh virtual unit with the older firmware whose flash
# is verified afterwards ("bench WAY SECONDS"), then CUTS cable pulls ("cut ...").
#   usb-vm-update-guest.sh BUILD-DIR
set -u
BUILD=$1
ROUNDS=${ROUNDS:-5}
CUTS=${CUTS:-6}
Q9=$BUILD/tools/q9unit/q9-unit
KV5=$BUILD/tools/kv5update/kv5update
G=$KV5_USB_GADGET
cd "$(mktemp -d /tmp/usb-bench.XXXXXX)" || exit 1

now() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# start_unit NAME [on-gadget]: a fresh unit; on the gadget's side of the cable when asked.
start_unit() {
  "$Q9" --system alsa --name "$1" --flash older --verify-source embedded --verify-exit >unit.log 2>&1 &
  unit=$!
  until grep -qs '^ready' unit.log; do sleep 0.05; done
  [ -z "${2:-}" ] || { aconnect f_midi:0 "$1:0" && aconnect "$1:1" f_midi:0; }
}
stop_unit() {
  kill -TERM "$unit"
  wait "$unit" || true
  grep -q '^flash verification: OK' unit.log || { echo "FAILED: $1: flash"; tail -n 4 unit.log; }
}
timed() {
  local way=$1 t
  shift
  t=$(now)
  "$@" >out.txt 2>&1 || { echo "FAILED: $way"; tail -n 3 out.txt; }
  echo "bench $way $(since "$t")"
}

way_usb() {
  start_unit "Q9 gadget unit" gadget
  timed usb "$KV5" --backend alsa update --yes-write-test-package
  stop_unit usb
}
way_limit() {
  start_unit "Q9 gadget unit" gadget
  timeout 120 "$BUILD/bench/kv5_usb_raw_limit" hw:1,0,0 >limit.txt 2>&1 || { echo "FAILED: limit"; cat limit.txt; }
  sed -n 's/^raw limit: [0-9]* messages, \([0-9.]*\) s.*/bench limit \1/p' limit.txt
  stop_unit limit
}
way_shared() {
  start_unit "Q9 gadget unit" gadget
  aconnect "Midi Through" "TELVOR Q9"
  timed shared "$KV5" --backend alsa update --yes-write-test-package
  aconnect -d "Midi Through" "TELVOR Q9"
  stop_unit shared
}
way_seq() {
  start_unit "Q9 direct"
  timed seq "$KV5" --backend alsa update --yes-write-test-package --in "Q9 direct" --out "Q9 direct"
  stop_unit seq
}

ways=(usb limit shared seq)
for round in $(seq "$ROUNDS"); do
  for i in 0 1 2 3; do "way_${ways[(i + round) % 4]}"; done
done

for cut in $(seq "$CUTS"); do
  start_unit "Q9 gadget unit" gadget
  rm -f cut.log
  "$KV5" --backend alsa --log cut.log update --yes-write-test-package >cut.txt 2>&1 &
  up=$!
  until [ "$(grep -cs ' -> write ' cut.log || true)" -ge 20 ] 2>/dev/null; do sleep 0.02; done
  t=$(now)
  echo >"$G/UDC"
  message=
  while kill -0 "$up" 2>/dev/null; do
    [ -n "$message" ] || ! grep -qs "^Can't open MIDI Out device" cut.txt || message=$(since "$t")
    sleep 0.01
  done
  exited=$(since "$t")
  wait "$up"
  echo "cut $cut: message after ${message:-$exited} s, exited after $exited s," \
    "$(dmesg | grep -c 'rawmidi drain error') drain errors so far"
  kill -TERM "$unit"
  wait "$unit"
  ls /sys/class/udc | head -n 1 >"$G/UDC"
  until grep -q '"TELVOR Q9" \[Kernel' /proc/asound/seq/clients && grep -q '"f_midi"' /proc/asound/seq/clients; do
    sleep 0.1
  done
done
