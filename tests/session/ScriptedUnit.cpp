#include "ScriptedUnit.h"

#include <algorithm>
#include <chrono>

#include "RecordingHost.h"
#include "protocol/ProtocolMessages.h"
#include "protocol/SysexEncoding.h"

namespace kv5::test {

UnitAnswer Reply(int code) {
  UnitAnswer answer;
  answer.code = code;
  return answer;
}

UnitAnswer Drop() {
  return With(UnitAnswer::Action::Drop);
}

UnitAnswer With(UnitAnswer::Action action, uint32_t delayMs) {
  UnitAnswer answer;
  answer.action = action;
  answer.delayMs = delayMs;
  return answer;
}

UnitAnswer Send(Bytes message) {
  UnitAnswer answer;
  answer.replaceWith = std::move(message);
  return answer;
}

Bytes UnitIdentityReply(const DeviceCodeBytes& code) {
  return {0xF0,    0x7E,    0x10, 0x06, 0x02, 0x7D, code[0], code[1],
          code[2], code[3], 0x01, 0x00, 0x00, 0x00, 0xF7};
}

Bytes UnitReadReply(const Bytes& data, bool goodChecksum) {
  const int d = static_cast<int>(data.size());
  Bytes message(static_cast<size_t>(MemoryReadReplyLength(d)));
  message[0] = 0xF0;
  message[1] = 0x7D;
  message[2] = 0x00;
  message[3] = 0x4D;
  message[4] = 0x60;
  message[5] = 0x04;
  message[6] = 0x30;
  EncodeSeptet14(d, &message[9]);
  const int packed = Pack7in8(&message[11], data.data(), d);
  const uint32_t crc = SysexCrc32(data.data(), static_cast<uint32_t>(d));
  EncodeSeptet32(goodChecksum ? crc : ~crc, &message[11 + static_cast<size_t>(packed)]);
  message.back() = 0xF7;
  return message;
}

Bytes UnitResult(int code) {
  return {0xF0, 0x7D, 0x00, 0x4D, 0x00, uint8_t(code), 0xF7};
}

ScriptedUnit::ScriptedUnit(ReceivedSysexQueue& queue, ExchangeState& state,
                           std::function<void()> wake)
    : queue_(queue), state_(state), wake_(std::move(wake)), flash_(kFlashSize, 0xFF) {}

ScriptedUnit::~ScriptedUnit() {
  for (std::thread& abort : laterAborts_) abort.join();
}

void ScriptedUnit::On(const std::string& kind, Script script) {
  std::lock_guard<std::mutex> hold(lock_);
  scripts_[kind] = std::move(script);
}

void ScriptedUnit::SetDeviceCode(const DeviceCodeBytes& code) {
  std::lock_guard<std::mutex> hold(lock_);
  deviceCode_ = code;
}

void ScriptedUnit::SetFlash(uint32_t address, const Bytes& bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  std::copy(bytes.begin(), bytes.end(), flash_.begin() + address);
}

Bytes ScriptedUnit::Flash(uint32_t address, uint32_t count) const {
  std::lock_guard<std::mutex> hold(lock_);
  return Bytes(flash_.begin() + address, flash_.begin() + address + count);
}

bool ScriptedUnit::RegionHoldsImage(const FlashRegion& region) const {
  const FirmwareImage image = OpenImage(region.resourceId);
  const Bytes flash = Flash(region.address, region.size);
  return image.size == region.imageSize &&
         std::equal(image.bytes, image.bytes + image.size, flash.begin()) &&
         std::all_of(flash.begin() + image.size, flash.end(), [](uint8_t b) { return b == 0xFF; });
}

bool ScriptedUnit::RegionErased(const FlashRegion& region) const {
  const Bytes flash = Flash(region.address, region.size);
  return std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; });
}

std::vector<UnitRequest> ScriptedUnit::Requests() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

std::vector<Bytes> ScriptedUnit::PollerAnswers() const {
  std::lock_guard<std::mutex> hold(lock_);
  return pollerAnswers_;
}

int ScriptedUnit::CountOf(const std::string& kind) const {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = counts_.find(kind);
  return found == counts_.end() ? 0 : found->second;
}

UnitRequest ScriptedUnit::Parse(const uint8_t* bytes, uint32_t length) {
  UnitRequest request;
  request.kind = MessageKind(bytes, length);
  request.index = counts_[request.kind];
  if (length > 3 && bytes[1] == kVendorId) request.modelByte = bytes[3];
  if (request.kind == "erase" && length == kFlashEraseLength) {
    request.address = DecodeSeptet32(bytes + 5);
    request.size = DecodeSeptet32(bytes + 10);
  } else if (request.kind == "read" && length == kMemoryReadRequestLength) {
    request.address = DecodeSeptet32(bytes + 6);
    request.size = DecodeSeptet32(bytes + 11);
  } else if (request.kind == "write" && length >= 18) {
    request.address = DecodeSeptet32(bytes + 5);
    const int k = DecodeSeptet14(bytes + 10);
    request.size = static_cast<uint32_t>(k);
    request.checksumOk = false;
    if (length == static_cast<uint32_t>(FlashWriteLength(k))) {
      Bytes data(static_cast<size_t>(k));
      Unpack7in8(data.data(), bytes + 12, PackedLength(k));
      request.checksumOk = SysexCrc32(data.data(), static_cast<uint32_t>(k)) ==
                           DecodeSeptet32(bytes + 12 + PackedLength(k));
    }
  }
  return request;
}

Bytes ScriptedUnit::UsualReply(const UnitRequest& request, int code) {
  if (request.kind == "identify") return UnitIdentityReply(deviceCode_);
  if (request.kind == "read") {
    if (request.address > kFlashSize || request.size > kFlashSize - request.address)
      return UnitReadReply({});
    return UnitReadReply(
        Bytes(flash_.begin() + request.address, flash_.begin() + request.address + request.size));
  }
  return UnitResult(code);
}

// What an acknowledged erase or write does to the flash.
void ScriptedUnit::Apply(const UnitRequest& request, const uint8_t* bytes, uint32_t length) {
  if (request.kind == "erase" && request.address + request.size <= kFlashSize) {
    std::fill_n(flash_.begin() + request.address, request.size, 0xFF);
  } else if (request.kind == "write" && request.checksumOk &&
             request.address + request.size <= kFlashSize && length >= 18) {
    Unpack7in8(flash_.data() + request.address, bytes + 12,
               PackedLength(static_cast<int>(request.size)));
  }
}

void ScriptedUnit::Deliver(const Bytes& message) {
  queue_.Append(message.data(), static_cast<uint32_t>(message.size()));
  wake_();
}

int ScriptedUnit::Receive(const uint8_t* bytes, uint32_t length) {
  // Decided under the unit's lock, carried out after it: no other lock is ever taken while the
  // unit's is held.
  std::vector<Bytes> deliveries;
  bool abortNow = false;
  Bytes reply;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const std::string kind = MessageKind(bytes, length);
    if (kind == "result" || kind == "identity-reply") {
      pollerAnswers_.emplace_back(bytes, bytes + length);
      return 0;
    }
    const UnitRequest request = Parse(bytes, length);
    const auto script = scripts_.find(kind);
    const UnitAnswer answer = script == scripts_.end() ? Reply() : script->second(request);
    if (answer.action == UnitAnswer::Action::FailSend) return -1;

    ++counts_[kind];
    requests_.push_back(request);
    // A late answer to the previous request reaches the host before this one is handled.
    if (!held_.empty()) deliveries.push_back(std::move(held_));
    held_.clear();
    deliveries.insert(deliveries.end(), answer.before.begin(), answer.before.end());

    const Bytes usual =
        answer.replaceWith.empty() ? UsualReply(request, answer.code) : answer.replaceWith;
    const bool acknowledged = answer.replaceWith.empty() && answer.code == 0;
    switch (answer.action) {
      case UnitAnswer::Action::Reply:
        if (acknowledged) Apply(request, bytes, length);
        reply = usual;
        break;
      case UnitAnswer::Action::Hold:
        if (acknowledged) Apply(request, bytes, length);
        held_ = usual;
        break;
      case UnitAnswer::Action::AbortInstead:
        abortNow = true;
        break;
      case UnitAnswer::Action::AbortThenReply:
        abortNow = true;
        reply = usual;
        break;
      case UnitAnswer::Action::ReplyThenAbortLater:
      case UnitAnswer::Action::AbortLater: {
        if (answer.action == UnitAnswer::Action::ReplyThenAbortLater) reply = usual;
        const uint32_t delay = answer.delayMs;
        ExchangeState& state = state_;
        laterAborts_.emplace_back([&state, delay] {
          std::this_thread::sleep_for(std::chrono::milliseconds(delay));
          state.Abort();
        });
        break;
      }
      case UnitAnswer::Action::Drop:
      case UnitAnswer::Action::FailSend:
        break;
    }
  }
  for (const Bytes& message : deliveries) Deliver(message);
  if (abortNow) state_.Abort();
  if (!reply.empty()) Deliver(reply);
  return 0;
}

}  // namespace kv5::test
