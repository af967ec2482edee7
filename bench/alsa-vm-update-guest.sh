# Runs in the sequencer test machine for alsa-vm-update.sh: ROUNDS pairs of whole updates, one
# between two sequencer clients and one through the virtual raw MIDI card's raw device, each on a
# fresh virtual unit with the older firmware whose flash is verified afterwards. Prints
# "bench seq|raw SECONDS" per update, then the split of one message ("split ..." lines).
set -eu
ROUNDS=${ROUNDS:-3}

uptime_s() { cut -d' ' -f1 /proc/uptime; }

start_unit() {
  rm -f unit.log  # a "ready" of the unit before must not count for this one
  ./q9-unit --system alsa --flash older --verify-source embedded --verify-exit >unit.log 2>&1 &
  unit=$!
  until grep -qs '^ready' unit.log; do
    kill -0 "$unit" 2>/dev/null || { echo "FAILED: the unit did not start"; cat unit.log; exit 1; }
    sleep 0.1
  done
}

stop_unit() {
  kill -TERM "$unit"
  wait "$unit" || true
  grep -q '^flash verification: OK' unit.log || { echo "FAILED: flash"; cat unit.log; exit 1; }
}

# One update; prints its wall time under the label.
timed_update() {
  label=$1
  shift
  start=$(uptime_s)
  ./kv5update --backend alsa update --yes-write-test-package "$@" >update.txt 2>&1 || {
    echo "FAILED: the $label update"
    cat update.txt
    exit 1
  }
  echo "bench $label $(echo "$(uptime_s) $start" | awk '{ printf "%.2f", $1 - $2 }')"
}

./kv5update --backend alsa list >list.txt
card=$(sed -n 's/^[* ] *[0-9][0-9]*  *\(Virtual Raw MIDI [0-9][0-9]*-0\)$/\1/p' list.txt | head -n 1)
[ -n "$card" ] || { echo "FAILED: no virtual raw MIDI card"; cat list.txt; exit 1; }
# Each arm goes first in every other round, so that neither always follows the other.
seq_arm() {
  start_unit
  timed_update seq
  stop_unit
}
raw_arm() {
  start_unit
  ./kv5_seq_connect "$card" "TELVOR Q9"
  timed_update raw --out "$card"
  stop_unit
}
round=0
while [ "$round" -lt "$ROUNDS" ]; do
  round=$((round + 1))
  if [ $((round % 2)) -eq 1 ]; then seq_arm; raw_arm; else raw_arm; seq_arm; fi
done
# Where one message's time goes on the two ways (kv5_raw_split, see its header).
if [ -x ./kv5_raw_split ]; then
  ./kv5_raw_split "$ROUNDS" 20 || echo "FAILED: the split of one message"
fi
