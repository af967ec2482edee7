// The per-message work of an update: building one full FlashWrite chunk, and the poller's
// handling of the unit's answer to it.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/ExchangeState.h"
#include "protocol/ProtocolMessages.h"
#include "protocol/ReceivedSysexQueue.h"
#include "protocol/ReplyPoller.h"
#include "protocol/SysexSender.h"

namespace kv5 {
namespace {

class NullSender : public SysexSender {
 public:
  int SendSysex(const uint8_t*, uint32_t) override { return 0; }
};

std::vector<uint8_t> ChunkData() {
  std::vector<uint8_t> data(kWriteChunk);
  uint32_t state = 0x12345678;
  for (uint8_t& byte : data) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return data;
}

// Pack7in8, SysexCrc32 and framing of one 4096-byte chunk.
void BuildFlashWrite(benchmark::State& state) {
  const std::vector<uint8_t> data = ChunkData();
  std::vector<uint8_t> message(kMaxOutgoingMessage);
  for (auto _ : state) {
    const int length = FlashWrite(message.data(), 0x4D, 0x066000, data.data(), kWriteChunk);
    benchmark::DoNotOptimize(length);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWriteChunk);
}
BENCHMARK(BuildFlashWrite);

// Judging one result reply: status recorded, event signalled.
void DispatchResultReply(benchmark::State& state) {
  ExchangeState exchange;
  NullSender sender;
  const std::array<uint8_t, 7> reply = {0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7};
  for (auto _ : state) {
    DispatchReply(reply.data(), reply.size(), exchange, sender);
    exchange.ReplyEvent.Reset();
  }
}
BENCHMARK(DispatchResultReply);

// One poller tick that finds one result reply: capture into the queue, peek, dispatch, pop.
void PollerTickWithOneResult(benchmark::State& state) {
  ExchangeState exchange;
  NullSender sender;
  ReceivedSysexQueue queue;
  const std::array<uint8_t, 7> reply = {0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7};
  for (auto _ : state) {
    queue.Append(reply.data(), reply.size());
    ReplyPoller(queue, exchange, sender);
    exchange.ReplyEvent.Reset();
  }
}
BENCHMARK(PollerTickWithOneResult);

// A 4-byte stamp read reply: unpacked into the read-back buffer and its checksum checked.
void DispatchStampReadReply(benchmark::State& state) {
  ExchangeState exchange;
  NullSender sender;
  const std::array<uint8_t, 22> reply = {0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x04, 0x30, 0x00,
                                         0x00, 0x04, 0x00, 0x00, 0x31, 0x2E, 0x32, 0x30,
                                         0x10, 0x60, 0x5A, 0x7A, 0x06, 0xF7};
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> hold(exchange.RecordLock);
      exchange.ReadTotal = 0;
    }
    DispatchReply(reply.data(), reply.size(), exchange, sender);
    exchange.ReplyEvent.Reset();
  }
}
BENCHMARK(DispatchStampReadReply);

}  // namespace
}  // namespace kv5
