#!/bin/bash
# run-usb-tests.sh BUILD-DIR [PHASE...]
#
# Runs in the test machine of run-in-vm.sh --host-root --usb-midi: the updater against a unit on
# USB, as an owner's machine has it. The virtual unit sits on the gadget's side of the cable
# (client "f_midi"), as "Q9 gadget unit"; the updater sees the USB card "TELVOR Q9" that the
# kernel's USB-MIDI driver made of it. PHASEs (default all, in this order):
#   card     list, check, a full update through the card, check again; the unit's flash verified
#   shared   another client subscribed to the card's port (the kernel's bridge holds the raw
#            device): a full update through the sequencer, no byte lost; then a program holding
#            the raw device itself: the update is refused with the clear message
#   cable    the cable pulled during a write and during an erase: the session ends and kv5update
#            exits within 2 s with the open-failure message and the line on the vanished device;
#            plugged in again, a new kv5update finds the unit and updates it
#   window   the window (offscreen) updating through the card; the cable pulled in the middle,
#            plugged in again, Rescan Device, and the update done
#   twins    a second unit of the same model; both unplugged, the second back first, into the
#            numbers the first had: the first's list entry does not open the second
#   jack     a JACK server (dummy driver) with its own raw MIDI bridge to the card: a full update
#            through the JACK ports
# Lines "RESULT ..." are figures; each "FAILED: ..." line counts; the exit status is 1 if any.
set -u
BUILD=$(readlink -f "${1:?usage: run-usb-tests.sh BUILD-DIR [PHASE...]}")
shift
PHASES=" ${*:-card shared cable window twins jack} "
Q9=$BUILD/tools/q9unit/q9-unit
KV5=$BUILD/tools/kv5update/kv5update
WINDOW=$BUILD/tests/alsa/kv5_usb_window_update
UNIT="Q9 gadget unit"  # not "TELVOR Q9": that is the name the USB card carries
G=${KV5_USB_GADGET:?run-in-vm.sh --usb-midi sets KV5_USB_GADGET}
FAILS=0
W=$(mktemp -d /tmp/usb-tests.XXXXXX)
cd "$W" || exit 1
[ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd

now() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
say() { echo "[$(now)] $*"; }
failed() {
  echo "FAILED: $*"
  FAILS=$((FAILS + 1))
}
# Waits up to $2 tenths of a second for the sequencer client named $1 (with "gone": until it is
# not there).
wait_client() {
  local tenths=0
  while :; do
    if grep -q "^Client *[0-9]* : \"$1\"" /proc/asound/seq/clients; then
      [ "${3:-}" != gone ] && return 0
    else
      [ "${3:-}" = gone ] && return 0
    fi
    tenths=$((tenths + 1))
    [ "$tenths" -le "$2" ] || return 1
    sleep 0.1
  done
}
plug_in() {
  ls /sys/class/udc | head -n 1 >"$G/UDC" && wait_client "TELVOR Q9" 600 && wait_client f_midi 600
}
pull_cable() { echo >"$G/UDC"; }

# start_unit LOG [q9-unit options]: the unit with the older firmware on the gadget's side.
unit=
start_unit() {
  local log=$1
  shift
  "$Q9" --system alsa --name "$UNIT" --flash older --verify-source embedded --verify-exit "$@" \
    >"$log" 2>&1 &
  unit=$!
  for _ in $(seq 600); do
    grep -qs '^ready' "$log" && { connect_unit; return; }
    kill -0 "$unit" 2>/dev/null || break
    sleep 0.1
  done
  cat "$log"
  failed "the virtual unit did not start"
  return 1
}
# The unit's ports to and from the gadget's port, as a patchbay connects them.
connect_unit() {
  aconnect f_midi:0 "$UNIT:0" && aconnect "$UNIT:1" f_midi:0 || failed "connecting the unit to f_midi"
}
# stop_unit LOG WHAT: the unit ends and judges its flash against the package.
stop_unit() {
  local status=0
  kill -TERM "$unit"
  wait "$unit" || status=$?
  if grep -q '^flash verification: OK' "$1" && [ "$status" = 0 ]; then
    echo "$2: the unit's flash verifies"
  else
    failed "$2: the unit's flash does not verify (status $status)"
    tail -n 5 "$1"
  fi
}

# update LABEL [options]: a whole update with its transcript in LABEL.log; prints its time.
update() {
  local label=$1 t status
  shift
  t=$(now)
  timeout 300 "$KV5" --backend alsa --log "$label.log" update --yes-write-test-package "$@" \
    >"$label.out" 2>&1
  status=$?
  echo "RESULT update $label: exit $status, $(since "$t") s, $(grep -c 'retry:' "$label.log")" \
    "resends, $(grep -c -- '-> write' "$label.log") writes"
  if [ "$status" != 0 ] || [ "$(tail -n 1 "$label.out")" != "Version update completed." ]; then
    failed "the update $label"
    tail -n 5 "$label.out"
    grep -E 'retry|outcome' "$label.log" | tail -n 5 | cut -c1-160
    return 1
  fi
}

# What check prints: a header, and the arrow with the package's stamp where the stamps differ.
report() {
  printf 'component\tunit -> package\nSYSTEM:\t\t%s\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t%s\n' \
    "$1" "$2"
}

phase_card() {
  say "== card: list, check, update and check through the USB card"
  start_unit unit-card.log || return
  "$KV5" --backend alsa list | tee list.txt
  grep -q '^\* *[0-9]* *TELVOR Q9$' list.txt || failed "the USB card is not preselected"
  "$KV5" --backend alsa check >check-before.txt 2>&1
  report "1.10 -> 1.20" "*.** -> 1.01" | cmp -s - check-before.txt ||
    { failed "the version check before the update"; cat check-before.txt; }
  update card
  "$KV5" --backend alsa check >check-after.txt 2>&1
  report "1.20" "1.01" | cmp -s - check-after.txt ||
    { failed "the version check after the update"; cat check-after.txt; }
  stop_unit unit-card.log "update through the card"
}

overruns() { dmesg | grep -c 'MIDI output buffer overrun'; }

phase_shared() {
  say "== shared: another client subscribed to the card's port, then one holding its raw device"
  start_unit unit-shared.log || return
  # As a patchbay would: "Midi Through" writes to the card's port, so the kernel's bridge holds
  # the card's raw device for as long as the connection lasts.
  aconnect "Midi Through" "TELVOR Q9" || failed "subscribing Midi Through to the card"
  local before
  before=$(overruns)
  update shared
  [ "$(overruns)" = "$before" ] || failed "the bridge dropped bytes ($(overruns) overruns)"
  grep -q 'retry:' shared.log && failed "a message was sent again through the bridge"
  aconnect -d "Midi Through" "TELVOR Q9"
  stop_unit unit-shared.log "update beside another client"

  # A program that opened the card's raw device itself (amidi, a synthesizer editor): no way in.
  start_unit unit-held.log || return
  sleep 600 >/dev/snd/midiC1D0 &
  local holder=$!
  "$KV5" --backend alsa update --yes-write-test-package >held.out 2>&1 &&
    failed "an update while another program holds the raw device"
  kill "$holder"
  wait "$holder" 2>/dev/null
  cat held.out
  grep -q "^Can't open MIDI Out device\.$" held.out || failed "no open failure for a held device"
  grep -q '^Another program may be using the device' held.out ||
    failed "no word of the other program"
  kill -TERM "$unit"
  wait "$unit"
}

# pull_during LABEL WHAT COUNT: an update, the cable pulled once the transcript shows COUNT lines
# of WHAT (a regular expression); how long until the messages and the exit; then plugged in again.
pull_during() {
  local label=$1 what=$2 count=$3 up t status first second exited seen
  rm -f "$label.log"
  "$KV5" --backend alsa --log "$label.log" update --yes-write-test-package >"$label.out" 2>&1 &
  up=$!
  for _ in $(seq 1200); do
    seen=$(grep -Ecs -- "$what" "$label.log")
    [ "${seen:-0}" -ge "$count" ] && break
    kill -0 "$up" 2>/dev/null || break
    sleep 0.05
  done
  if ! kill -0 "$up" 2>/dev/null; then
    failed "$label: the update ended before the cut"
    cat "$label.out"
    grep -v ' -> write' "$label.log" | tail -n 12 | cut -c1-160
    return 1
  fi
  t=$(now)
  pull_cable
  first= second= exited=
  while :; do
    [ -n "$first" ] || ! grep -qs "^Can't open MIDI Out device\.$" "$label.out" || first=$(since "$t")
    [ -n "$second" ] || ! grep -qs '^The MIDI device disappeared' "$label.out" || second=$(since "$t")
    kill -0 "$up" 2>/dev/null || { exited=$(since "$t"); break; }
    [ "$(since "$t" | cut -d. -f1)" -lt 15 ] || { kill -KILL "$up"; break; }
    sleep 0.02
  done
  wait "$up"
  status=$?
  # What the program printed is in the file once it has ended.
  [ -n "$first" ] || ! grep -qs "^Can't open MIDI Out device\.$" "$label.out" || first=$exited
  [ -n "$second" ] || ! grep -qs '^The MIDI device disappeared' "$label.out" || second=$exited
  echo "RESULT cable pulled $label: message after ${first:-never} s, second line after" \
    "${second:-never} s, exit (status $status) after ${exited:-never (killed)} s"
  within2() { [ -n "$1" ] && awk -v s="$1" 'BEGIN { exit !(s <= 2.0) }'; }
  within2 "$first" || failed "$label: no open-failure message within 2 s"
  within2 "$second" || failed "$label: no line on the vanished device within 2 s"
  within2 "$exited" || failed "$label: kv5update still running 2 s after the cut"
  [ "$status" = 1 ] || failed "$label: exit status $status, not 1"
  tail -n 3 "$label.out"
  dmesg | grep -c 'rawmidi drain error' | sed 's/^/kernel drain errors so far: /'
  t=$(now)
  plug_in || { failed "$label: the card did not come back"; return 1; }
  echo "RESULT plugged in again after $label: the cards are back after $(since "$t") s"
  connect_unit
}

phase_cable() {
  say "== cable: pulled during a write and during an erase, then plugged in again"
  start_unit unit-cable.log || return
  # Writes follow each other within milliseconds: the cut comes after the twentieth.
  pull_during during-write ' ms  -> write ' 20 || return
  kill -TERM "$unit"
  wait "$unit"
  # Each erase takes this unit 3 s, so the cut meets one.
  start_unit unit-cable.log --erase-ms 3000 || return
  pull_during during-erase ' ms  -> erase ' 1 || return
  "$KV5" --backend alsa list >list-again.txt
  grep -q '^\* *[0-9]* *TELVOR Q9$' list-again.txt || { failed "no unit after the replug"; cat list-again.txt; }
  kill -TERM "$unit"
  wait "$unit"
  # A fresh unit on the same, replugged card: the erases at their usual speed.
  start_unit unit-replug.log || return
  update after-replug
  stop_unit unit-replug.log "update after the replugs"
}

phase_window() {
  say "== window: an update through the card, cut, plugged in again, Rescan Device, update"
  [ -x "$WINDOW" ] || { failed "no $WINDOW"; return; }
  start_unit unit-window.log --verbose || return
  rm -f unit-back
  QT_QPA_PLATFORM=offscreen "$WINDOW" "$W/unit-back" >window.out 2>&1 &
  local driver=$!
  # The cable goes once the unit has taken some writes.
  for _ in $(seq 1200); do
    [ "$(grep -c '^#[0-9]* write ' unit-window.log)" -ge 10 ] && break
    kill -0 "$driver" 2>/dev/null || break
    sleep 0.05
  done
  pull_cable
  plug_in || failed "the card did not come back for the window"
  connect_unit
  touch unit-back
  local status=0
  wait "$driver" || status=$?
  grep -E '^window|^(PASS|FAIL|Totals)' window.out
  [ "$status" = 0 ] || { failed "the window's update (status $status)"; tail -n 20 window.out; }
  stop_unit unit-window.log "the window's update"
}

phase_twins() {
  say "== twins: a second unit of the same model; both unplugged, the second back first"
  "$BUILD/tests/alsa/kv5_alsa_usb_tests" --gtest_color=no >twins.out 2>&1 ||
    { failed "two units of one model"; cat twins.out; }
  grep -E '^\[ *(OK|FAILED) ' twins.out
}

phase_jack() {
  say "== jack: a JACK server with its raw MIDI bridge to the card, an update through its ports"
  start_unit unit-jack.log || return
  export JACK_NO_AUDIO_RESERVATION=1 JACK_DEFAULT_SERVER=kv5usb
  # The server's own bridge opens every card's raw MIDI device it can: the gadget's is held by
  # the unit's connection already, the USB card's becomes the server's.
  jackd --no-realtime -S -X alsarawmidi -n kv5usb -d dummy -r 48000 -p 256 >jackd.log 2>&1 &
  local server=$!
  jack_wait -w -t 60 >/dev/null 2>&1 || failed "the JACK server did not start"
  local port=
  for _ in $(seq 100); do
    port=$(jack_lsp -A 2>/dev/null |
      awk '/^system_midi:playback/ { p = $0 } / TELVOR Q9 .* out$/ { print p; exit }')
    [ -n "$port" ] && break
    sleep 0.1
  done
  local in=${port/playback/capture}
  echo "JACK ports of the card: $in, $port"
  [ -n "$port" ] || { failed "no JACK port of the card"; cat jackd.log; }
  # The lists name a client with one port of a direction by the client alone.
  if [ "$(jack_lsp 2>/dev/null | grep -c '^system_midi:playback')" = 1 ]; then
    in=system_midi port=system_midi
  fi
  t=$(now)
  timeout 1000 "$KV5" --backend jack --log jack.log update --yes-write-test-package \
    --in "$in" --out "$port" >jack.out 2>&1
  echo "RESULT update through JACK: exit $?, $(since "$t") s, $(grep -c 'retry:' jack.log) resends" \
    "($(grep -c 'retry: .*result code 18' jack.log) for a checksum the unit found wrong)"
  tail -n 1 jack.out | grep -q '^Version update completed\.$' ||
    { failed "the update through JACK"; tail -n 5 jack.out; grep -E 'retry|outcome' jack.log | tail -n 5;
      grep -v XRun jackd.log | sort | uniq -c | sort -rn | head -n 8; }
  kill -TERM "$server"
  wait "$server"
  stop_unit unit-jack.log "update through JACK"
}

say "guest $(uname -r); phases:$PHASES"
cat /proc/asound/cards
for phase in $PHASES; do "phase_$phase"; done
say "$FAILS failure(s)"
[ "$FAILS" = 0 ]
