// Arbitrary received bytes through the reply poller. Besides memory safety (the sanitizers), each
// input checks the poller's contract: a message that is not a vendor or universal SysEx has no
// effect; a message gets at most one answer, always a well-formed result or identity reply, and
// never both an answer and a signal; status and read data change only with a signal; read data is
// kept only when its checksum matches, and never beyond the read-back buffer.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "FuzzTargets.h"
#include "protocol/ExchangeState.h"
#include "protocol/ProtocolMessages.h"
#include "protocol/ReceivedSysexQueue.h"
#include "protocol/RecordingSender.h"
#include "protocol/ReplyPoller.h"
#include "protocol/SysexEncoding.h"

namespace kv5::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr DeviceCodeBytes kDeviceCode = {0x4D, 0x00, 0x12, 0x00};
constexpr int kUntouched = 0x5A;  // a status no reply of these tests leaves by chance
constexpr uint32_t kCapacity = ExchangeState::kReadBackCapacity;

// One exchange state for the whole run: building one clears 5.8 MB, far more than a dispatch
// costs. Every input starts it from the same point.
ExchangeState& SharedState() {
  static ExchangeState state;
  return state;
}

struct Snapshot {
  int status = 0;
  int readTotal = 0;
  DeviceCodeBytes reported{};
};

Snapshot Take(ExchangeState& state) {
  std::lock_guard<std::mutex> hold(state.RecordLock);
  return {state.ReplyStatus, state.ReadTotal, state.ReportedDeviceCode};
}

void Prepare(ExchangeState& state, int readTotal) {
  {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    state.ReplyStatus = kUntouched;
    state.ReportedDeviceCode = {};
    state.ReadTotal = readTotal;
  }
  state.ReplyEvent.Reset();
  state.SetDeviceCode(kDeviceCode);
  state.SetEchoCode(kDeviceCode);
}

Bytes Built(int (*build)(uint8_t*, uint8_t, uint8_t), uint8_t code) {
  Bytes message(kResultMessageLength);
  message.resize(static_cast<size_t>(build(message.data(), kDeviceCode[0], code)));
  return message;
}

// The only answers the poller may send: acknowledgement, "not handled", the identity reply.
void RequireValidAnswer(const Bytes& answer) {
  static const Bytes acknowledge = Built(&ResultMessage, kResultAcknowledge);
  static const Bytes notHandled = Built(&ResultMessage, kResultNotHandled);
  static const Bytes identity = [] {
    Bytes message(kIdentityReplyLength);
    IdentityReply(message.data(), kDeviceCode);
    return message;
  }();
  Require(answer == acknowledge || answer == notHandled || answer == identity,
          "the poller sent something other than a result or identity reply");
}

bool LooksHandled(const uint8_t* m, size_t size) {
  return size >= 5 && m[0] == kSysexStart && (m[1] == kVendorId || m[1] == kUniversalNonRealTime);
}

void CheckOneDispatch(const uint8_t* m, size_t size, int readTotalBefore) {
  ExchangeState& state = SharedState();
  Prepare(state, readTotalBefore);
  test::RecordingSender sender;
  DispatchReply(m, static_cast<uint32_t>(size), state, sender);

  const Snapshot after = Take(state);
  const bool signalled = state.ReplyEvent.IsSet();
  const std::vector<Bytes> answers = sender.Sent();
  Require(answers.size() <= 1, "more than one answer to one message");
  for (const Bytes& answer : answers) RequireValidAnswer(answer);
  Require(!(signalled && !answers.empty()), "a message was both answered and taken as a reply");
  Require(after.readTotal >= readTotalBefore && static_cast<uint32_t>(after.readTotal) <= kCapacity,
          "ReadTotal went backwards or past the read-back buffer");

  if (!LooksHandled(m, size)) {
    Require(!signalled && answers.empty() && after.status == kUntouched,
            "a message that is no vendor or universal SysEx had an effect");
  }
  if (!signalled) {
    Require(after.status == kUntouched && after.readTotal == readTotalBefore &&
                after.reported == DeviceCodeBytes{},
            "state changed without a signal");
    return;
  }
  Require(after.status >= 0 && after.status <= 0xFF, "ReplyStatus outside a byte");
  if (after.readTotal == readTotalBefore) return;

  // Data was kept: only from a read reply whose checksum covers exactly the bytes kept.
  Require(after.status == kReplySuccess, "read data kept without success");
  Require(m[4] == kCommandMemory && m[5] == kMemoryReplySubCode && m[6] == kMemoryReadSubCode,
          "read data kept from a message that is no read reply");
  const int count = DecodeSeptet14(m + 9);
  Require(after.readTotal - readTotalBefore == count, "ReadTotal grew by another count");
  const uint32_t checksum = DecodeSeptet32(m + 11 + PackedLength(count));
  std::lock_guard<std::mutex> hold(state.RecordLock);
  Require(SysexCrc32(state.ReadBackBuffer.get() + readTotalBefore, static_cast<uint32_t>(count)) ==
              checksum,
          "kept read data does not match its checksum");
}

}  // namespace

void ContractBroken(const char* what) {
  std::fprintf(stderr, "contract broken: %s\n", what);
  std::abort();
}

int FuzzDispatchReply(const uint8_t* data, size_t size) {
  // From an empty read-back buffer, and from one nearly full, where read data must not fit.
  CheckOneDispatch(data, size, 0);
  CheckOneDispatch(data, size, static_cast<int>(kCapacity - size % 97));
  return 0;
}

int FuzzPollerQueue(const uint8_t* data, size_t size) {
  ExchangeState& state = SharedState();
  Prepare(state, 0);
  ReceivedSysexQueue queue;
  size_t messages = 0;
  size_t begin = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == kSysexEnd || i + 1 == size) {
      queue.Append(data + begin, static_cast<uint32_t>(i + 1 - begin));
      ++messages;
      begin = i + 1;
    }
  }
  test::RecordingSender sender;
  ReplyPoller(queue, state, sender);

  Require(queue.Empty(), "the poller left messages in the queue");
  const std::vector<Bytes> answers = sender.Sent();
  Require(answers.size() <= messages, "more answers than messages");
  for (const Bytes& answer : answers) RequireValidAnswer(answer);
  const Snapshot after = Take(state);
  Require(after.readTotal >= 0 && static_cast<uint32_t>(after.readTotal) <= kCapacity,
          "ReadTotal outside the read-back buffer");
  if (!state.ReplyEvent.IsSet()) {
    Require(after.status == kUntouched && after.readTotal == 0, "state changed without a signal");
  }
  return 0;
}

}  // namespace kv5::fuzz
