// The updater's CPU use while it sits idle with its window open: the reply poller's timer
// running and, for the headless dialog, both ports open on a virtual unit. Reported in percent
// of one core, and in wake-ups a second (times a thread of the process went to sleep); the Qt
// program is measured as a child process on the offscreen platform (it finds no MIDI devices
// there, so its ports stay closed).
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
  double wakeups = 0;
  for (auto _ : state) {
    const double cpu = ProcessCpuSeconds();
    const long long switches = ProcessWakeups();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kSample);
    const double seconds = Seconds(Clock::now() - start);
    percent = 100.0 * (ProcessCpuSeconds() - cpu) / seconds;
    // Less the one sleep of this thread.
    wakeups = static_cast<double>(ProcessWakeups() - switches - 1) / seconds;
  }
  state.counters["core_percent"] = percent;
  state.counters["wakeups_per_s"] = wakeups;
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
  double wakeups = 0;
  for (auto _ : state) {
    const double cpu = program.CpuSeconds();
    const long long switches = program.Wakeups();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(kSample);
    const double seconds = Seconds(Clock::now() - start);
    percent = 100.0 * (program.CpuSeconds() - cpu) / seconds;
    wakeups = static_cast<double>(program.Wakeups() - switches) / seconds;
  }
  state.counters["core_percent"] = percent;
  state.counters["wakeups_per_s"] = wakeups;
}
BENCHMARK(IdleQtWindowOffscreen)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace
}  // namespace kv5::bench
