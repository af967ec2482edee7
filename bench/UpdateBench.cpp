// Whole updates against the in-process virtual unit: unpaced (what the updater itself costs), and
// over lines of USB-MIDI and DIN speed, where the figure of merit is the update's time divided by
// the line's pure transfer time of the bytes the host sends. A DIN update takes about nine
// minutes, so it is measured on two of the plan's steps and extrapolated.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "HeadlessUpdater.h"
#include "firmware/FirmwarePackage.h"
#include "protocol/ProtocolMessages.h"
#include "session/UpdateWorker.h"
#include "unit/PacedLink.h"
#include "unit/VirtualUnit.h"

namespace kv5::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kUsbRate = LinkPacing::kUsbBytesPerSecond;
constexpr uint32_t kDinRate = LinkPacing::kDinBytesPerSecond;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// Bytes the host puts on the line for one plan step: an erase, or every chunk of a write.
uint64_t StepBytes(const PlanStep& step) {
  if (step.kind == kEraseStep) return kFlashEraseLength;
  const uint32_t total =
      step.size != 0 ? static_cast<uint32_t>(step.size) : OpenImage(step.resourceId).size;
  uint64_t bytes = 0;
  for (uint32_t done = 0; done < total; done += kWriteChunk) {
    bytes += static_cast<uint64_t>(
        FlashWriteLength(static_cast<int>(std::min<uint32_t>(kWriteChunk, total - done))));
  }
  return bytes;
}

// A whole session writing every region: identification, update mode, BOOT stamp read, the ten
// steps and the finish.
uint64_t FullUpdateBytes() {
  uint64_t bytes = kIdentityRequestLength + kEnterUpdateModeLength + kMemoryReadRequestLength +
                   kFinishUpdateLength;
  for (const PlanStep& step : UpdatePlan) bytes += StepBytes(step);
  return bytes;
}

// A unit behind a line of the given rate (0: no line, the bare loopback) and a headless updater.
struct UpdateRig {
  UpdateRig(InitialFlash flash, uint32_t bytesPerSecond)
      : device(midi.AddDevice("TELVOR Q9")),
        link(bytesPerSecond != 0 ? std::make_unique<PacedLink>(device, bytesPerSecond) : nullptr),
        unit(link ? *link : device, Config(flash)),
        updater(midi) {
    unit.Start();
  }
  static UnitConfig Config(InitialFlash flash) {
    UnitConfig config;
    config.initialFlash = flash;
    return config;
  }

  LoopbackMidi midi;
  MidiEndpoint& device;
  std::unique_ptr<PacedLink> link;
  VirtualUnit unit;
  HeadlessUpdater updater;
};

// One full update per iteration, from a factory-fresh unit (all 368 chunks); the rig is built and
// torn down outside the timing.
void RunFullUpdates(benchmark::State& state, uint32_t bytesPerSecond) {
  double wall = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<UpdateRig>(InitialFlash::Factory, bytesPerSecond);
    state.ResumeTiming();
    const Clock::time_point start = Clock::now();
    const bool completed = rig->updater.RunUpdate();
    wall += Seconds(Clock::now() - start);
    state.PauseTiming();
    const bool verified =
        completed && rig->unit.WaitIdle(std::chrono::seconds(10)) && rig->unit.VerifyPackage().ok;
    rig.reset();
    state.ResumeTiming();
    if (!verified) {
      state.SkipWithError("the update did not complete with the package in the flash");
      return;
    }
  }
  const double updates = static_cast<double>(state.iterations());
  state.counters["chunks"] = 368;
  if (bytesPerSecond != 0) {
    const double pure = static_cast<double>(FullUpdateBytes()) / bytesPerSecond;
    state.counters["pure_transfer_s"] = pure;
    state.counters["ratio"] = wall / updates / pure;
    // The pause after the unit entered update mode is the session's own wait, not transfer.
    const double pause = kProductionTiming.EnterUpdatePauseMs / 1000.0;
    state.counters["ratio_without_pause"] = (wall / updates - pause) / pure;
  }
}

void FullUpdateUnpaced(benchmark::State& state) {
  RunFullUpdates(state, 0);
}
BENCHMARK(FullUpdateUnpaced)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

void FullUpdateUsbMidi(benchmark::State& state) {
  RunFullUpdates(state, kUsbRate);
}
BENCHMARK(FullUpdateUsbMidi)
    ->Iterations(2)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The PRESET and SUBMCU steps (two erases, 32 chunks, about 48 s of line time) at DIN speed, run
// as the session runs them; the full update is extrapolated with the measured ratio.
void DinStepsExtrapolated(benchmark::State& state) {
  const std::vector<PlanStep> steps = {UpdatePlan[1], UpdatePlan[2], UpdatePlan[7], UpdatePlan[8]};
  double wall = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto rig = std::make_unique<UpdateRig>(InitialFlash::OlderFirmware, kDinRate);
    if (!rig->updater.PrepareSteps() || !rig->updater.EnterUpdateMode()) {
      state.SkipWithError("the unit did not enter update mode");
      return;
    }
    const uint64_t before = rig->link->HostBytes();
    state.ResumeTiming();
    const Clock::time_point start = Clock::now();
    bool done = true;
    for (const PlanStep& step : steps) {
      CKv5UpdatorDlg& dialog = rig->updater.Dialog();
      const int result = step.kind == kEraseStep
                             ? EraseRegion(dialog, static_cast<uint32_t>(step.address),
                                           static_cast<uint32_t>(step.size))
                             : WriteImage(dialog, static_cast<uint32_t>(step.address),
                                          static_cast<uint32_t>(step.size), step.resourceId);
      done = done && result == 0;
    }
    wall += Seconds(Clock::now() - start);
    state.PauseTiming();
    bytes += rig->link->HostBytes() - before;
    rig.reset();
    state.ResumeTiming();
    if (!done) {
      state.SkipWithError("a step failed");
      return;
    }
  }
  const double pure = static_cast<double>(bytes) / kDinRate;
  const double ratio = wall / pure;
  state.counters["pure_transfer_s"] = pure / static_cast<double>(state.iterations());
  state.counters["ratio"] = ratio;
  state.counters["full_update_min"] =
      ratio * static_cast<double>(FullUpdateBytes()) / kDinRate / 60;
  state.SetLabel("PRESET+SUBMCU steps measured; full_update_min extrapolated from the ratio");
}
BENCHMARK(DinStepsExtrapolated)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv5::bench
