// The updater's CPU use while it sits idle with its window open: the 1 ms reply poller running
// and, for the headless dialog, both ports open on a virtual unit. Reported in percent of one
// core; the Qt program is measured as a child process on the offscreen platform (it finds no
// MIDI devices there, so its ports stay closed).
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "HeadlessUpdater.h"
#include "ProcessCpu.h"
#include "unit/VirtualUnit.h"

namespace kv5::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kSample{4};

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

void IdleDialogWithPortsOpen(benchmark::State& state) {
  LoopbackMidi midi;
  VirtualUnit unit(midi.AddDevice("TELVOR Q9"), UnitConfig{});
  unit.Start();
  HeadlessUpdater updater(midi);
  if (updater.Dialog().OpenSelectedPorts() != 0) {
    state.SkipWithError("the ports did not open");
    return;
  }
  double percent = 0;
  for (auto _ : state) {
    const double cpu = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kSample);
    percent = 100.0 * (ProcessCpuSeconds() - cpu) / Seconds(Clock::now() - start);
  }
  state.counters["core_percent"] = percent;
}
BENCHMARK(IdleDialogWithPortsOpen)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

#ifdef KV5_UPDATER_PROGRAM
void IdleQtWindowOffscreen(benchmark::State& state) {
  RunningProgram program(KV5_UPDATER_PROGRAM, {"-platform", "offscreen"});
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // start-up
  if (!program.Running()) {
    state.SkipWithError("the updater did not start");
    return;
  }
  double percent = 0;
  for (auto _ : state) {
    const double cpu = program.CpuSeconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kSample);
    percent = 100.0 * (program.CpuSeconds() - cpu) / Seconds(Clock::now() - start);
  }
  state.counters["core_percent"] = percent;
}
BENCHMARK(IdleQtWindowOffscreen)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace kv5::bench
