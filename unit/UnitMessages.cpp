#include "unit/UnitMessages.h"

#include "protocol/SysexEncoding.h"

namespace kv5 {

std::vector<uint8_t> UnitResultMessage(uint8_t model, uint8_t code) {
  return {
      0xF0, 0x7D, 0x00, static_cast<uint8_t>(model & 0x7F), 0x00, static_cast<uint8_t>(code & 0x7F),
      0xF7};
}

std::vector<uint8_t> UnitReadReply(uint8_t model, uint32_t tag, const uint8_t* data,
                                   uint32_t count) {
  const int packed = PackedLength(static_cast<int>(count));
  std::vector<uint8_t> message(static_cast<size_t>(packed) + 17);
  const uint8_t head[] = {0xF0, 0x7D, 0x00, static_cast<uint8_t>(model & 0x7F), 0x60, 0x04, 0x30};
  std::copy(std::begin(head), std::end(head), message.begin());
  EncodeSeptet14(static_cast<int>(tag), &message[7]);
  EncodeSeptet14(static_cast<int>(count), &message[9]);
  Pack7in8(&message[11], data, static_cast<int>(count));
  EncodeSeptet32(SysexCrc32(data, count), &message[11 + packed]);
  message[16 + packed] = 0xF7;
  return message;
}

std::vector<uint8_t> UnitIdentityReply(uint8_t deviceId, const std::array<uint8_t, 4>& deviceCode,
                                       const std::array<uint8_t, 4>& revision) {
  std::vector<uint8_t> message = {0xF0, 0x7E, static_cast<uint8_t>(deviceId & 0x7F),
                                  0x06, 0x02, 0x7D};
  for (uint8_t b : deviceCode) message.push_back(b & 0x7F);
  for (uint8_t b : revision) message.push_back(b & 0x7F);
  message.push_back(0xF7);
  return message;
}

std::vector<uint8_t> UnitRequestMessage(uint8_t model, UnitRequest request) {
  if (request.type == UnitRequest::Type::Identity) return {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  return {0xF0,
          0x7D,
          0x00,
          static_cast<uint8_t>(model & 0x7F),
          static_cast<uint8_t>(request.command & 0x7F),
          0xF7};
}

}  // namespace kv5
