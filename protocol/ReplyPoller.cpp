#include "protocol/ReplyPoller.h"

#include "protocol/ProtocolMessages.h"
#include "protocol/ReplyReaders.h"
#include "protocol/SysexEncoding.h"

namespace kv5 {
namespace {

// Shortest message each branch may act on: a message that ends before a byte its branch reads is
// dropped without any effect.
constexpr uint32_t kMinHeadLength = 5;       // m[0..4]
constexpr uint32_t kMinResultLength = 6;     // result code at m[5]
constexpr uint32_t kMinMemoryLength = 6;     // m[5] tells a read reply from the rest
constexpr uint32_t kMinReadReplyLength = 7;  // m[6] tells the read sub-code
constexpr uint32_t kMinIdentityLength = 10;  // device code at m[6..9]

// Every answer is built in a buffer of its own, with the ModelByte current at that moment.
void AnswerResult(ExchangeState& state, SysexSender& sender, uint8_t code) {
  uint8_t answer[kResultMessageLength];
  const int length = ResultMessage(answer, state.ModelByte(), code);
  sender.SendSysex(answer, static_cast<uint32_t>(length));
}

void AnswerIdentity(ExchangeState& state, SysexSender& sender) {
  uint8_t answer[kIdentityReplyLength];
  const int length = IdentityReply(answer, state.EchoCode());
  sender.SendSysex(answer, static_cast<uint32_t>(length));
}

// Records a reply's status and wakes the waiting exchange; the status is in place first.
void Settle(ExchangeState& state, int status) {
  state.SetStatusUnlessAborted(status);
  state.ReplyEvent.Set();
}

// A 60 04 30 reply: its data is unpacked straight behind ReadTotal and kept only when its
// checksum matches. Data that would not fit behind ReadTotal is not accepted.
void AcceptReadData(const uint8_t* message, uint32_t length, ExchangeState& state) {
  MemoryReadReplyFields fields;
  if (!ReadMemoryReadReply(message, length, &fields)) return;  // too short: dropped
  bool accepted = false;
  {
    std::lock_guard<std::mutex> hold(state.RecordLock);
    const uint32_t total = static_cast<uint32_t>(state.ReadTotal);
    const uint32_t count = static_cast<uint32_t>(fields.count);
    if (count <= ExchangeState::kReadBackCapacity - total) {
      uint8_t* place = state.ReadBackBuffer.get() + total;
      Unpack7in8(place, fields.packed, fields.packedLength);
      if (SysexCrc32(place, count) == fields.checksum) {
        state.ReadTotal += fields.count;
        accepted = true;
      }
    }
  }
  Settle(state, accepted ? kReplySuccess : kReplyNotAccepted);
}

void DispatchMemoryReply(const uint8_t* message, uint32_t length, ExchangeState& state) {
  if (length < kMinMemoryLength) return;
  if (message[5] != kMemoryReplySubCode) {
    // Not a read reply: judged as one that was not accepted, so a read never succeeds with the
    // bytes an earlier read left.
    Settle(state, kReplyNotAccepted);
    return;
  }
  if (length < kMinReadReplyLength) return;
  if (message[6] != kMemoryReadSubCode) {
    Settle(state, kReplyNotAccepted);
    return;
  }
  AcceptReadData(message, length, state);
}

void DispatchVendor(const uint8_t* message, uint32_t length, ExchangeState& state,
                    SysexSender& sender) {
  switch (message[4]) {
    case kCommandResult:
      if (length < kMinResultLength) return;
      // A healthy unit's codes are data bytes; any other is a failure answer all the same, and
      // never the 255 that only the window's abort sets.
      Settle(state, message[5] < 0x80 ? message[5] : kReplyUnreadableCode);
      return;
    case 0x01:
    case 0x04:
    case 0x05:
      // The unit's own requests: acknowledged.
      AnswerResult(state, sender, kResultAcknowledge);
      return;
    case 0x02:
      Settle(state, kReplySuccess);
      return;
    case 0x03:
      return;
    case kCommandMemory:
      DispatchMemoryReply(message, length, state);
      return;
    default:
      AnswerResult(state, sender, kResultNotHandled);
      return;
  }
}

void DispatchUniversal(const uint8_t* message, uint32_t length, ExchangeState& state,
                       SysexSender& sender) {
  if (message[3] != kGeneralInformation) return;
  switch (message[4]) {
    case kIdentityRequestId:
      AnswerIdentity(state, sender);
      return;
    case kIdentityReplyId: {
      if (length < kMinIdentityLength) return;
      {
        std::lock_guard<std::mutex> hold(state.RecordLock);
        for (int i = 0; i < 4; ++i) state.ReportedDeviceCode[i] = message[6 + i];
      }
      Settle(state, kReplySuccess);
      return;
    }
    default:
      AnswerResult(state, sender, kResultNotHandled);
      return;
  }
}

}  // namespace

void DispatchReply(const uint8_t* message, uint32_t length, ExchangeState& state,
                   SysexSender& sender) {
  if (length < 2 || message[0] != kSysexStart) return;
  if (message[1] != kVendorId && message[1] != kUniversalNonRealTime) return;
  if (length < kMinHeadLength) return;
  if (message[1] == kVendorId) {
    DispatchVendor(message, length, state, sender);
  } else {
    DispatchUniversal(message, length, state, sender);
  }
}

void ReplyPoller(ReceivedSysexQueue& queue, ExchangeState& state, SysexSender& sender,
                 TrafficTap* tap) {
  // The queue's lock is held only inside PeekSysex and PopSysex, so capture goes on meanwhile.
  for (const SysexEntry* entry = queue.PeekSysex(); entry != nullptr; entry = queue.PeekSysex()) {
    if (tap != nullptr) tap->OnReceived(entry->bytes.get(), entry->length);
    DispatchReply(entry->bytes.get(), entry->length, state, sender);
    queue.PopSysex();
  }
}

}  // namespace kv5
