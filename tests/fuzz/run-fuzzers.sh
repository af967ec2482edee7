#!/usr/bin/env bash
# Builds the libFuzzer programs with clang (ASan + UBSan) in a build folder of their own and runs
# each for a while on a corpus seeded from the protocol's own messages. Fails on any crash, leak or
# broken contract; the input that caused it is left in <build>/fuzz-work/crashes/. Then replays
# the corpus through a coverage build and reports line and branch coverage of the code under test.
#
#   tests/fuzz/run-fuzzers.sh [seconds per target, default 60] [target ...]
#
# Targets: dispatch_reply poller_queue unpack7in8 unit_request_parser unit_responder (default all).
# Prints one line per target: runs, exec/s, coverage (cov, ft), corpus size and crashes.
# KV5_FUZZ_RUNS=N runs each target until N executions instead, the seconds then being a limit.
# KV5_FUZZ_BUILD_DIR overrides the build folder (default build/fuzz); KV5_FUZZ_COVERAGE=0 skips
# the coverage report. The corpus is kept and grows across runs.
set -euo pipefail

seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(dispatch_reply poller_queue unpack7in8 unit_request_parser unit_responder)
fi

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${KV5_FUZZ_BUILD_DIR:-$root/build/fuzz}
work=$build/fuzz-work

configure() {  # folder, extra cmake arguments...
  local folder=$1
  shift
  mkdir -p "$folder"
  CC=clang CXX=clang++ cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV5_BUILD_FUZZERS=ON -DKV5_WITH_QT=OFF -DKV5_BUILD_BENCH=OFF "$@" >"$folder/configure.log" 2>&1 ||
    { cat "$folder/configure.log"; exit 1; }
  cmake --build "$folder" -j2 --target kv5_fuzz_seeds "${targets[@]/#/kv5_fuzz_}" >"$folder/build.log" 2>&1 ||
    { tail -n 40 "$folder/build.log"; exit 1; }
}

configure "$build" -DKV5_FUZZ_COVERAGE=OFF
rm -rf "$work/seeds"
mkdir -p "$work/crashes"
"$build/tests/fuzz/kv5_fuzz_seeds" "$work/seeds"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The longest input worth trying. The 7-in-8 packing repeats every eight bytes, so a long input
# adds no path but costs a traced comparison per byte; the unit's inputs hold whole requests,
# a 4096-byte write among them.
max_len() {
  case $1 in
    unpack7in8) echo 512 ;;
    *) echo 10000 ;;
  esac
}

limit=(-max_total_time="$seconds")
[[ -n ${KV5_FUZZ_RUNS:-} ]] && limit+=(-runs="$KV5_FUZZ_RUNS")

# Inputs that made a target fail. libFuzzer also leaves a slow-unit- input there when one input
# took 10 s, which on a loaded machine is the machine's stall, not a failure.
failures() {
  find "$work/crashes" -name "$1-*" ! -name "$1-slow-unit-*" | wc -l
}

failed=0
printf '%-20s %8s %11s %9s %6s %7s %7s %7s\n' target seconds runs exec/s cov ft corpus crashes
for target in "${targets[@]}"; do
  corpus=$work/corpus/$target
  log=$work/$target.log
  mkdir -p "$corpus"
  before=$(failures "$target")
  started=$SECONDS
  status=0
  "$build/tests/fuzz/kv5_fuzz_$target" "${limit[@]}" -max_len="$(max_len "$target")" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/crashes/$target-" \
    "$corpus" "$work/seeds/$target" >"$log" 2>&1 || status=$?
  crashes=$(($(failures "$target") - before))
  # A failure that left no input (a broken contract at start-up, a crash of the fuzzer itself)
  # counts as one.
  ((status != 0 && crashes == 0)) && crashes=1
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  printf '%-20s %8s %11s %9s %6s %7s %7s %7s\n' "$target" $((SECONDS - started)) "${runs:--}" \
    "${rate:--}" "${cov:--}" "${ft:--}" "$(find "$corpus" -type f | wc -l)" "$crashes"
  if ((crashes > 0)); then
    failed=1
    echo "  $target failed (log $log, input in $work/crashes/):"
    grep -E 'ERROR|contract broken|runtime error|SUMMARY' "$log" | head -n 5 | sed 's/^/    /' || true
  fi
done

if [[ ${KV5_FUZZ_COVERAGE:-1} != 0 ]] && command -v llvm-profdata-14 >/dev/null; then
  coverage=$build-coverage
  configure "$coverage" -DKV5_FUZZ_COVERAGE=ON
  rm -rf "$coverage/profiles"
  mkdir -p "$coverage/profiles"
  objects=()
  for target in "${targets[@]}"; do
    program=$coverage/tests/fuzz/kv5_fuzz_$target
    LLVM_PROFILE_FILE="$coverage/profiles/$target.profraw" \
      "$program" -runs=0 "$work/corpus/$target" "$work/seeds/$target" >/dev/null 2>&1 || failed=1
    objects+=(-object "$program")
  done
  llvm-profdata-14 merge -sparse "$coverage"/profiles/*.profraw -o "$coverage/profiles/all.profdata"
  echo
  echo "Coverage of the code under test by the corpus (lines, branches):"
  llvm-cov-14 report "${objects[@]:1}" -instr-profile="$coverage/profiles/all.profdata" \
    "$root/protocol/ReplyPoller.cpp" "$root/protocol/ReplyReaders.cpp" \
    "$root/protocol/SysexEncoding.cpp" "$root/protocol/ReceivedSysexQueue.cpp" \
    "$root/unit/RequestParser.cpp" "$root/unit/UnitResponder.cpp" "$root/unit/FlashModel.cpp" \
    2>/dev/null | awk 'NF == 13 && $1 != "Filename" {
      printf "  %-28s lines %8s (%s of %s)   branches %8s (%s of %s)\n", $1, $10, $8 - $9, $8, $13, $11 - $12, $11 }'
fi
exit "$failed"
