#!/bin/bash
# Runs in the sequencer machine of run-in-vm.sh --host-root: the Windows build's programs through
# Wine's winmm against the virtual unit on the kernel's sequencer. One Wine server serves every
# program.
#   guest-update.sh RELEASE_BUILD WINDOWS_BUILD [verbose|failed-update|checks=N]
# verbose: the messages the unit handled during kv5update.exe's part are shown; failed-update:
# at the end, an update the unit refuses (every FlashWrite answered 17), then a check; checks=N:
# only N version checks in a row, counting those that gave no report.
# The unit publishes itself as "TELVOR Q9"; Wine names its ports "client - port". kv5update.exe
# lists, checks, updates and checks again; the unit then verifies its flash against the package.
# Then the window, driven in its own process, updates a fresh unit; then the Linux build's
# kv5update does the same update in the same machine, for comparison of the times; and last,
# with run-in-vm.sh --usb-midi, kv5update.exe updates a unit on USB through its card.
set -u
release=$1
windows=$2
export WINEPREFIX=/tmp/prefix WINEDEBUG=-all
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
q9=$release/tools/q9unit/q9-unit
exe=$windows/tools/kv5update/kv5update.exe
window=$windows/tests/wine/wine_window_update.exe
cd /tmp
echo 1 >/proc/sys/kernel/print-fatal-signals 2>/dev/null

now() { cut -d' ' -f1 /proc/uptime; }
since() { echo "$(now) $1" | awk '{ printf "%.1f s", $1 - $2 }'; }
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

unit=
start_unit() {
  "$q9" --system alsa --flash older --verify-source embedded --verify-exit --verbose >unit.log 2>&1 &
  unit=$!
  for _ in $(seq 300); do
    grep -q '^ready' unit.log && return 0
    kill -0 "$unit" 2>/dev/null || break
    sleep 0.1
  done
  cat unit.log
  fail "the virtual unit did not publish its ports"
  return 1
}
# Ends the unit and judges its flash: "flash verification: OK" and status 0.
stop_unit() {
  local what=$1 status=0
  kill -TERM "$unit"
  wait "$unit" || status=$?
  grep -v '^#' unit.log | tail -n 6  # its summary, without the messages it handled
  grep -q '^flash verification: OK' unit.log && [ "$status" -eq 0 ] ||
    fail "$what: the unit's flash does not verify (status $status)"
}

# Runs a Wine program under a limit: its output (carriage returns as line ends) in $1.txt, its
# error output in $1.err (with the ALSA library's complaints about missing sound cards left out),
# its exit status in $status.
status=0
run() {
  local name=$1 limit=$2 t0
  shift 2
  t0=$(now)
  timeout "$limit" "$@" </dev/null >"$name.out" 2>"$name.all"
  status=$?
  tr '\r' '\n' <"$name.out" | grep -v '^ *$' >"$name.txt"
  grep -v '^ALSA lib' "$name.all" >"$name.err"
  elapsed=$(since "$t0")
  echo "[guest] $name: exit status $status after $elapsed"
}

# kv5update.exe with its transcript (what it sent and received, with times) in $1.log.
kv5() {
  local name=$1 limit=$2
  shift 2
  run "$name" "$limit" "$wine" "$exe" --log "Z:/tmp/$name.log" "$@"
}
# What a failed step leaves to judge it by: the program's transcript and the unit's log so far.
explain() {
  echo "[guest] $1: transcript"
  tail -n 40 "$1.log" 2>/dev/null
  echo "[guest] $1: the unit's log"
  tail -n 20 unit.log
}

# The exit status a program means, or 139: Wine's MIDI driver (8.0) now and then still crashes in
# its notification thread while the process ends, after the program's work and output are done;
# the output and the unit's verification judge then.
crashes=0
expect_status() {
  local name=$1 want=$2
  if [ "$status" -eq 139 ]; then
    crashes=$((crashes + 1))
    echo "[guest] $name: Wine's MIDI driver crashed while the process ended"
  elif [ "$status" -ne "$want" ]; then
    fail "$name: exit status $status, not $want"
  fi
}

# The USB unit's card stays unplugged until its own part below: the lists before it hold the
# virtual unit's client alone under the name "TELVOR Q9".
[ -z "${KV5_USB_GADGET:-}" ] || echo >"$KV5_USB_GADGET/UDC"

setsid "$wineserver" -p </dev/null >/dev/null 2>&1 &
run wineboot 240 "$wine" wineboot
start_unit || exit 1

in="TELVOR Q9 - MIDI Out"
out="TELVOR Q9 - MIDI In"
kv5 list 180 list
cat list.txt
grep -qF "$in" list.txt && grep -qF "$out" list.txt || fail "the unit's ports are not listed"
expect_status list 0
list_seconds=$elapsed

# A version check, judged by its report ($2 the expected one).
check() {
  local name=$1 expected=$2 what=$3
  kv5 "$name" 180 check --in "$in" --out "$out"
  cat "$name.txt"
  cmp -s "$name.txt" "$expected" || { explain "$name"; fail "$what"; }
  expect_status "$name" 0
}

printf 'component\tunit -> package\nSYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01\n' >before.expected

# checks=N: N version checks in a row, each a process of its own, counted by whether they gave the
# report; a measurement of lost answers, nothing else runs.
case ${3:-} in
  checks=*)
    total=${3#checks=} lost=0
    for i in $(seq "$total"); do
      kv5 loop 180 check --in "$in" --out "$out" >/dev/null
      if ! cmp -s loop.txt before.expected; then
        lost=$((lost + 1))
        echo "[guest] check $i: no report (exit status $status)"
        tail -n 4 loop.log
      fi
    done
    echo "[guest] $total version checks, $lost without a report"
    timeout 30 "$wineserver" -k
    [ "$lost" -eq 0 ]
    exit
    ;;
esac

check check-before before.expected "the report before the update"

# Wine's driver warns when it has to add an F0 or F7 to a buffer: a message sent in pieces.
WINEDEBUG=warn+midi kv5 update 420 update --yes-write-test-package --in "$in" --out "$out"
update_seconds=$elapsed
tail -n 3 update.txt
grep -v ':midi:' update.err | tail -n 3
if grep -q 'Adding missing' update.err; then
  grep ':midi:' update.err | sed 's/^[0-9a-f]*:/:/' | sort | uniq -c | sort -rn | head -5
  fail "messages reached Wine's driver in pieces"
fi
tail -n 1 update.txt | grep -q '^Version update completed\.$' ||
  { explain update; fail "the update did not complete"; }
expect_status update 0

printf 'component\tunit -> package\nSYSTEM:\t\t1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01\n' >after.expected
check check-after after.expected "the report after the update"
[ "${3:-}" = verbose ] && grep -n -E 'write|erase|read|identity|enter|refus|code' unit.log | head -n 60
stop_unit "kv5update.exe"

if [ -f "$window" ]; then
  start_unit && {
    run window 420 "$wine" "$window" "$in" "$out"
    tail -n 15 window.txt window.err
    grep -q '^\[  PASSED  \] 1 test' window.txt || fail "the window's update"
    expect_status window 0
    stop_unit "the window"
  }
fi

# The same update by the Linux build, over the same sequencer.
start_unit && {
  t0=$(now)
  "$release/tools/kv5update/kv5update" --backend alsa --log /tmp/linux.log update \
    --yes-write-test-package >linux.out 2>&1
  status=$?
  linux_seconds=$(since "$t0")
  tail -n 1 linux.out
  [ "$status" -eq 0 ] || fail "the Linux build's update: exit status $status"
  stop_unit "the Linux build"
}
# A session's own time in its transcript: from the first message sent to the outcome.
session() {
  awk '/ ms  -> / && !t { t = $1 } / ms  outcome: / && t { printf "%.1f s", ($1 - t) / 1000; exit }' \
    "$1" 2>/dev/null
}
echo "[guest] the same update: Windows build through Wine ${update_seconds:-?} (with Wine's start," \
  "about a list's ${list_seconds:-?}), Linux build ${linux_seconds:-?}; the sessions alone:" \
  "$(session update.log) and $(session linux.log)"

# The Windows build on a unit on USB (run-in-vm.sh --usb-midi): the virtual unit on the gadget's
# side of the cable, the card "TELVOR Q9" on this side, reached through Wine's winmm over the
# sequencer. Wine hands a message to the sequencer whole, and the kernel's bridge to the card
# drops what does not fit its buffer (4096 bytes by default, less than a 4700-byte write): the
# owner's setting that lets it through is the bridge's buffer size.
usb_update() {
  echo 65536 >/sys/module/snd_seq_midi/parameters/output_buffer_size
  ls /sys/class/udc | head -n 1 >"$KV5_USB_GADGET/UDC"
  for _ in $(seq 600); do
    grep -q '"TELVOR Q9" \[Kernel' /proc/asound/seq/clients && grep -q '"f_midi"' /proc/asound/seq/clients && break
    sleep 0.1
  done
  "$q9" --system alsa --name "Q9 gadget unit" --flash older --verify-source embedded --verify-exit \
    >unit.log 2>&1 &
  unit=$!
  for _ in $(seq 300); do grep -q '^ready' unit.log && break; sleep 0.1; done
  aconnect f_midi:0 "Q9 gadget unit:0" && aconnect "Q9 gadget unit:1" f_midi:0 ||
    fail "connecting the unit to the gadget's card"
  local card="TELVOR Q9 - TELVOR Q9 MIDI 1"
  kv5 usb-update 420 update --yes-write-test-package --in "$card" --out "$card"
  usb_seconds=$elapsed
  tail -n 3 usb-update.txt
  tail -n 1 usb-update.txt | grep -q '^Version update completed\.$' ||
    { explain usb-update; fail "the update through the USB card did not complete"; }
  echo "[guest] through the USB card: $usb_seconds, the session $(session usb-update.log)," \
    "$(grep -c 'retry:' usb-update.log) resends"
  expect_status usb-update 0
  stop_unit "kv5update.exe through the USB card"
}
[ -z "${KV5_USB_GADGET:-}" ] || usb_update

if [ "${3:-}" = failed-update ]; then
  "$q9" --system alsa --flash older --fault code:write:*:17 >unit.log 2>&1 &
  unit=$!
  sleep 3
  kv5 failed-update 300 update --yes-write-test-package --in "$in" --out "$out"
  tail -n 3 failed-update.txt failed-update.err
  kv5 check-failed 300 check --in "$in" --out "$out"
  cat check-failed.txt check-failed.err
  kill -TERM "$unit"; wait "$unit"; tail -n 12 unit.log
fi

dmesg | grep -A2 'fatal signal' | grep -E 'Comm|signal' | tail -n 8
timeout 30 "$wineserver" -k
echo "[guest] $failures failure(s); Wine's MIDI driver crashed at the end of $crashes program(s)"
[ "$failures" -eq 0 ]
