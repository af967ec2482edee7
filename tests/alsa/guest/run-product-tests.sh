# Runs in the test machine: the whole product through the kernel's sequencer. The virtual unit
# publishes itself as the sequencer client "TELVOR Q9" with the older firmware; kv5update finds it
# by the window's preselection, checks the stamps, updates the flash and checks again; the unit
# then verifies its flash against the package. Then the same update goes out through a card's raw
# MIDI device: the virtual raw MIDI card stands in for a USB unit, its sequencer port connected to
# a fresh virtual unit (kv5_seq_connect), whose replies come back on the sequencer.
set -eu

# Starts a virtual unit with the older firmware and waits until its ports are published.
start_unit() {
  rm -f unit.log  # a "ready" of the unit before must not count for this one
  ./q9-unit --system alsa --flash older --verify-source embedded --verify-exit >unit.log 2>&1 &
  unit=$!
  tries=0
  until grep -q '^ready' unit.log; do
    tries=$((tries + 1))
    if [ "$tries" -gt 300 ] || ! kill -0 "$unit" 2>/dev/null; then
      echo "the virtual unit did not publish its ports:"
      cat unit.log
      exit 1
    fi
    sleep 0.1
  done
  cat unit.log
}

fail() {
  echo "FAILED: $*"
  kill -TERM "$unit" 2>/dev/null || true
  cat unit.log
  exit 1
}

# Ends the unit and checks that its flash equals the package.
stop_unit() {
  kill -TERM "$unit"
  status=0
  wait "$unit" || status=$?
  cat unit.log
  grep -q '^flash verification: OK' unit.log || fail "the unit's flash does not verify"
  [ "$status" -eq 0 ] || fail "the unit ended with status $status"
}

start_unit

./kv5update --backend alsa list | tee list.txt
grep -q '^\* *[0-9]* *TELVOR Q9$' list.txt || fail "TELVOR Q9 is not preselected"

printf 'component\tunit -> package\nSYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01\n' >expected-before.txt
./kv5update --backend alsa check >before.txt || fail "the first version check"
cat before.txt
cmp before.txt expected-before.txt || fail "the report before the update"

./kv5update --backend alsa update --yes-write-test-package >update.txt 2>&1 || {
  cat update.txt
  fail "the update"
}
tail -n 3 update.txt
tail -n 1 update.txt | grep -q '^Version update completed\.$' || fail "no completion line"

printf 'component\tunit -> package\nSYSTEM:\t\t1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01\n' >expected-after.txt
./kv5update --backend alsa check >after.txt || fail "the second version check"
cat after.txt
cmp after.txt expected-after.txt || fail "the report after the update"

stop_unit
# One updater per device, and a unit whose client goes away in the middle of an update: the
# session ends at once with the open-failure message, not after the timeouts.
# Each write takes the unit 50 ms, so the update lasts some 15 s: the second updater below must
# meet it still running, also when this machine starts programs slowly.
./q9-unit --system alsa --flash older --write-ms 50 >cut-unit.log 2>&1 &
cutunit=$!
tries=0
until grep -q '^ready' cut-unit.log; do
  tries=$((tries + 1))
  [ "$tries" -le 300 ] || fail "the second virtual unit did not publish its ports"
  sleep 0.1
done
./kv5update --backend alsa update --yes-write-test-package >cut.txt 2>&1 &
tries=0
until grep -q '^\[1/10\]' cut.txt; do
  tries=$((tries + 1))
  [ "$tries" -le 600 ] || { cat cut.txt; fail "the update to be cut did not get going"; }
  sleep 0.1
done
./kv5update --backend alsa check >held.txt 2>&1 && {
  cat held.txt cut.txt
  fail "a second updater opened a held device"
}
grep -q "^Can't open MIDI Out device\.$" held.txt || { cat held.txt; fail "no open failure"; }
kill -KILL "$cutunit"
tenths=0
until grep -q '^The MIDI device disappeared' cut.txt; do
  tenths=$((tenths + 1))
  [ "$tenths" -le 20 ] || { cat cut.txt; fail "the update did not end within 2 s of the unit"; }
  sleep 0.1
done
wait 2>/dev/null || true
grep -q "^Can't open MIDI Out device\.$" cut.txt || { cat cut.txt; fail "no message"; }
echo "unit's client gone -> session ended within $tenths tenths of a second"
echo "PRODUCT OVER THE SEQUENCER: PASSED"

card=$(sed -n 's/^[* ] *[0-9][0-9]*  *\(Virtual Raw MIDI [0-9][0-9]*-0\)$/\1/p' list.txt | head -n 1)
[ -n "$card" ] || fail "no virtual raw MIDI card in the lists"
number=${card#Virtual Raw MIDI }
number=${number%-0}
start_unit
./kv5_seq_connect "$card" "TELVOR Q9" || fail "connecting $card to the unit"

# Another program holds the card's raw MIDI device: nothing opens, and kv5update says why.
sleep 600 >"/dev/snd/midiC${number}D0" &
holder=$!
if ./kv5update --backend alsa update --out "$card" --yes-write-test-package >busy.txt 2>&1; then
  fail "an update on a device that another program holds"
fi
kill "$holder"
wait "$holder" 2>/dev/null || true
cat busy.txt
grep -q "^Can't open MIDI Out device\.$" busy.txt || fail "no open failure for a busy device"
grep -q '^Another program may be using the device' busy.txt || fail "no word of the other program"

start=$(cut -d' ' -f1 /proc/uptime)
./kv5update --backend alsa update --out "$card" --yes-write-test-package >update.txt 2>&1 || {
  cat update.txt
  fail "the update through the raw MIDI device"
}
echo "update through $card took $(echo "$(cut -d' ' -f1 /proc/uptime) $start" | awk '{ print $1 - $2 }') s"
tail -n 1 update.txt | grep -q '^Version update completed\.$' || fail "no completion line"
stop_unit
echo "PRODUCT THROUGH A CARD'S RAW MIDI DEVICE: PASSED"
