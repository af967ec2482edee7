#include "SeedCorpus.h"

#include <numeric>

#include "firmware/FirmwarePackage.h"
#include "protocol/ProtocolMessages.h"
#include "unit/UnitMessages.h"

namespace kv5::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kModel = 0x4D;
const std::array<uint8_t, 4> kDeviceCode = {0x4D, 0x00, 0x12, 0x00};
const std::array<uint8_t, 4> kRevision = {0x01, 0x02, 0x00, 0x00};

template <typename Build>
Bytes Message(int capacity, Build build) {
  Bytes message(static_cast<size_t>(capacity));
  message.resize(static_cast<size_t>(build(message.data())));
  return message;
}

Bytes Concatenated(const std::vector<SeedInput>& inputs) {
  Bytes all;
  for (const SeedInput& input : inputs)
    all.insert(all.end(), input.bytes.begin(), input.bytes.end());
  return all;
}

Bytes ImageBytes(int resourceId, uint32_t offset, uint32_t count) {
  const FirmwareImage image = OpenImage(resourceId);
  return Bytes(image.bytes + offset, image.bytes + offset + count);
}

// What the unit sends the host.
std::vector<SeedInput> UnitToHost() {
  const Bytes stamp = {'1', '.', '2', '0'};
  const Bytes chunk = ImageBytes(kBootImageId, 0, 700);
  return {
      {"identity-reply", UnitIdentityReply(0x00, kDeviceCode, kRevision)},
      {"result-ok", UnitResultMessage(kModel, 0)},
      {"result-not-in-update-mode", UnitResultMessage(kModel, 11)},
      {"result-error", UnitResultMessage(kModel, 0x12)},
      {"read-reply-stamp", UnitReadReply(kModel, 0, stamp.data(), 4)},
      {"read-reply-700", UnitReadReply(kModel, 1, chunk.data(), 700)},
      {"read-reply-empty", UnitReadReply(kModel, 0, nullptr, 0)},
      {"unit-request-01", UnitRequestMessage(kModel, UnitRequest::Vendor(0x01))},
      {"unit-request-02", UnitRequestMessage(kModel, UnitRequest::Vendor(0x02))},
      {"unit-request-03", UnitRequestMessage(kModel, UnitRequest::Vendor(0x03))},
      {"unit-request-05", UnitRequestMessage(kModel, UnitRequest::Vendor(0x05))},
      {"unit-request-61", UnitRequestMessage(kModel, UnitRequest::Vendor(0x61))},
      {"unit-identity-request", UnitRequestMessage(kModel, UnitRequest::Identity())},
  };
}

// What the host sends the unit.
std::vector<SeedInput> HostToUnit() {
  const FirmwareImage submcu = OpenImage(kSubmcuImageId);
  const Bytes small = ImageBytes(kPresetImageId, 110588, 4);
  return {
      {"identity-request",
       Message(kIdentityRequestLength, [](uint8_t* m) { return IdentityRequest(m); })},
      {"enter-update-mode",
       Message(kEnterUpdateModeLength, [](uint8_t* m) { return EnterUpdateMode(m, kModel); })},
      {"erase-submcu", Message(kFlashEraseLength,
                               [](uint8_t* m) { return FlashErase(m, kModel, 0x1C7000, 0x5000); })},
      {"write-submcu-4096", Message(kMaxOutgoingMessage,
                                    [&](uint8_t* m) {
                                      return FlashWrite(m, kModel, 0x1C7000, submcu.bytes,
                                                        kWriteChunk);
                                    })},
      {"write-4",
       Message(FlashWriteLength(4),
               [&](uint8_t* m) { return FlashWrite(m, kModel, 0x1C7000, small.data(), 4); })},
      {"read-boot-stamp",
       Message(kMemoryReadRequestLength,
               [](uint8_t* m) { return MemoryReadRequest(m, kModel, 0x4AFFC, 4); })},
      {"finish", Message(kFinishUpdateLength, [](uint8_t* m) { return FinishUpdate(m, kModel); })},
      {"host-result",
       Message(kResultMessageLength, [](uint8_t* m) { return ResultMessage(m, kModel, 0); })},
      {"host-identity-reply", Message(kIdentityReplyLength,
                                      [](uint8_t* m) {
                                        return IdentityReply(m, {0x4D, 0x00, 0x12, 0x00});
                                      })},
  };
}

std::vector<SeedInput> PackedBlocks() {
  std::vector<SeedInput> blocks;
  for (int n : {0, 1, 6, 7, 8, 13, 64, 4096}) {
    Bytes raw(static_cast<size_t>(n));
    std::iota(raw.begin(), raw.end(), static_cast<uint8_t>(0x7A));
    Bytes packed(static_cast<size_t>(PackedLength(n)));
    Pack7in8(packed.data(), raw.data(), n);
    blocks.push_back({"packed-" + std::to_string(n), packed});
  }
  return blocks;
}

}  // namespace

const std::vector<std::string>& FuzzTargetNames() {
  static const std::vector<std::string> names = {"dispatch_reply", "poller_queue", "unpack7in8",
                                                 "unit_request_parser", "unit_responder"};
  return names;
}

std::vector<SeedInput> SeedCorpus(const std::string& target) {
  if (target == "dispatch_reply") return UnitToHost();
  if (target == "poller_queue") {
    std::vector<SeedInput> seeds = UnitToHost();
    seeds.push_back({"all-unit-messages", Concatenated(UnitToHost())});
    return seeds;
  }
  if (target == "unpack7in8") return PackedBlocks();
  if (target == "unit_request_parser") return HostToUnit();
  if (target == "unit_responder") {
    std::vector<SeedInput> seeds = HostToUnit();
    seeds.push_back({"erase-write-read-finish", Concatenated(HostToUnit())});
    return seeds;
  }
  return {};
}

}  // namespace kv5::fuzz
