// The host's cost of one 4096-byte chunk on the real path: the FlashWrite built, sent through the
// MIDI output port over loopback, answered at once by the far side, captured by the input port,
// judged by the reply poller on its 1 ms timer, and the waiting exchange woken. Wall time is
// bound by the poller's period; CPU time is the whole process's (every thread of the updater,
// plus the trivial echo), per chunk.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "HeadlessUpdater.h"
#include "firmware/FirmwarePackage.h"
#include "platform/event/AutoResetEvent.h"
#include "protocol/ProtocolMessages.h"

namespace kv5::bench {
namespace {

void ChunkRoundTrip(benchmark::State& state) {
  LoopbackMidi midi;
  MidiEndpoint& device = midi.AddDevice("TELVOR Q9");
  device.SetReceiver([&device](const uint8_t*, size_t) {
    static const uint8_t kAcknowledge[] = {0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7};
    device.Send(kAcknowledge, sizeof kAcknowledge);
  });
  HeadlessUpdater updater(midi);
  if (!updater.PrepareSteps()) {
    state.SkipWithError("the ports did not open");
    return;
  }
  CKv5UpdatorDlg& dialog = updater.Dialog();
  ExchangeState& exchange = dialog.Exchange();
  const FirmwareImage image = OpenImage(kSystemImageId);
  const uint32_t chunks = image.size / kWriteChunk;
  std::vector<uint8_t> message(kMaxOutgoingMessage);
  uint32_t chunk = 0;
  for (auto _ : state) {
    const uint32_t offset = (chunk++ % chunks) * kWriteChunk;
    const int length = FlashWrite(message.data(), exchange.ModelByte(), 0x066000 + offset,
                                  image.bytes + offset, kWriteChunk);
    dialog.SendSysex(message.data(), static_cast<uint32_t>(length));
    if (!exchange.WaitReply(1000) || exchange.Status() != kReplySuccess) {
      state.SkipWithError("no acknowledgement");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWriteChunk);
}
BENCHMARK(ChunkRoundTrip)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// The floor under ChunkRoundTrip on this machine: a message passed round a ring of threads that
// do nothing else, each waiting on the event the reply path uses. A chunk crosses three threads
// (the worker, the transport's thread, the poller's timer thread), so the ring of three is what
// any chunk costs here, whatever the updater does between the hand-offs; the ring of two is the
// least that any transport with a thread of its own could cost.
void ThreadHandOffRing(benchmark::State& state) {
  const size_t threads = static_cast<size_t>(state.range(0));
  std::vector<std::unique_ptr<AutoResetEvent>> turn;
  for (size_t i = 0; i < threads; ++i) turn.push_back(std::make_unique<AutoResetEvent>());
  std::atomic<bool> quit{false};
  std::vector<std::thread> ring;
  for (size_t i = 1; i < threads; ++i) {
    ring.emplace_back([&, i] {
      for (;;) {
        while (!turn[i]->Wait(1000)) {
        }
        if (quit.load()) return;
        turn[(i + 1) % threads]->Set();
      }
    });
  }
  for (auto _ : state) {
    turn[1]->Set();
    while (!turn[0]->Wait(1000)) {
    }
  }
  quit.store(true);
  for (size_t i = 1; i < threads; ++i) turn[i]->Set();
  for (std::thread& thread : ring) thread.join();
}
BENCHMARK(ThreadHandOffRing)
    ->Arg(2)
    ->Arg(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv5::bench
