// Requests to the virtual unit, put together byte by byte for its tests, and a small harness that
// drives the unit's protocol logic without threads.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/SysexEncoding.h"
#include "unit/UnitResponder.h"

namespace kv5::test {

constexpr uint8_t kModel = 0x4D;

inline std::vector<uint8_t> VendorRequest(uint8_t command, uint8_t model = kModel) {
  return {0xF0, 0x7D, 0x00, model, command, 0xF7};
}

inline std::vector<uint8_t> EraseRequest(uint32_t address, uint32_t size, uint8_t model = kModel) {
  std::vector<uint8_t> m = {0xF0, 0x7D, 0x00, model, 0x0A};
  m.resize(16);
  EncodeSeptet32(address, &m[5]);
  EncodeSeptet32(size, &m[10]);
  m[15] = 0xF7;
  return m;
}

inline std::vector<uint8_t> WriteRequest(uint32_t address, const std::vector<uint8_t>& data,
                                         uint8_t model = kModel) {
  const int count = static_cast<int>(data.size());
  const int packed = PackedLength(count);
  std::vector<uint8_t> m = {0xF0, 0x7D, 0x00, model, 0x02};
  m.resize(static_cast<size_t>(packed) + 18);
  EncodeSeptet32(address, &m[5]);
  EncodeSeptet14(count, &m[10]);
  Pack7in8(&m[12], data.data(), count);
  EncodeSeptet32(SysexCrc32(data.data(), static_cast<uint32_t>(count)), &m[12 + packed]);
  m.back() = 0xF7;
  return m;
}

inline std::vector<uint8_t> ReadRequest(uint32_t address, uint32_t length, uint8_t model = kModel) {
  std::vector<uint8_t> m = {0xF0, 0x7D, 0x00, model, 0x60, 0x30};
  m.resize(17);
  EncodeSeptet32(address, &m[6]);
  EncodeSeptet32(length, &m[11]);
  m[16] = 0xF7;
  return m;
}

inline std::vector<uint8_t> ResultFromUnit(uint8_t code, uint8_t model = kModel) {
  return {0xF0, 0x7D, 0x00, model, 0x00, code, 0xF7};
}

// The data a read reply carries, after checking its layout and checksum; empty on any flaw.
inline std::vector<uint8_t> ReadReplyData(const std::vector<uint8_t>& reply) {
  if (reply.size() < 17 || reply[0] != 0xF0 || reply[1] != 0x7D || reply[4] != 0x60 ||
      reply[5] != 0x04 || reply[6] != 0x30 || reply.back() != 0xF7) {
    return {};
  }
  const int count = DecodeSeptet14(&reply[9]);
  const int packed = PackedLength(count);
  if (reply.size() != static_cast<size_t>(packed) + 17) return {};
  std::vector<uint8_t> data(static_cast<size_t>(count));
  Unpack7in8(data.data(), &reply[11], packed);
  if (DecodeSeptet32(&reply[11 + packed]) != SysexCrc32(data.data(), count)) return {};
  return data;
}

// Drives a UnitResponder with bytes and hands back what it sends, in order.
class ResponderHarness {
 public:
  explicit ResponderHarness(const UnitConfig& config) : unit(config) {}

  std::vector<std::vector<uint8_t>> Send(const std::vector<uint8_t>& message) {
    last = unit.Handle(message.data(), message.size());
    std::vector<std::vector<uint8_t>> sent;
    for (const Outgoing& out : last.messages) sent.push_back(out.bytes);
    return sent;
  }
  // The single ResultMessage code the unit answered; -1 when it sent anything else.
  int ResultOf(const std::vector<uint8_t>& message) {
    const auto sent = Send(message);
    if (sent.size() != 1 || sent[0].size() != 7 || sent[0][4] != 0x00) return -1;
    return sent[0][5];
  }
  int EnterUpdate() { return ResultOf(VendorRequest(0x01)); }

  UnitResponder unit;
  Reaction last;
};

inline UnitConfig ConfigWith(InitialFlash flash, bool updateMode = true) {
  UnitConfig config;
  config.initialFlash = flash;
  config.updateMode = updateMode;
  return config;
}

}  // namespace kv5::test
