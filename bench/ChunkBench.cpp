// The host's cost of one 4096-byte chunk on the real path: the FlashWrite built, sent through the
// MIDI output port over loopback, answered at once by the far side, captured by the input port,
// judged by the reply poller on its 1 ms timer, and the waiting exchange woken. Wall time is
// bound by the poller's period; CPU time is the whole process's (every thread of the updater,
// plus the trivial echo), per chunk.
#include <benchmark/benchmark.h>

#include <vector>

#include "HeadlessUpdater.h"
#include "firmware/FirmwarePackage.h"
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

}  // namespace
}  // namespace kv5::bench
