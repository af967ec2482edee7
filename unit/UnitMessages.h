// The messages the virtual unit sends, built from the protocol's byte tables on the unit's side.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "unit/UnitConfig.h"

namespace kv5 {

// F0 7D 00 <model> 00 <code> F7
std::vector<uint8_t> UnitResultMessage(uint8_t model, uint8_t code);

// F0 7D 00 <model> 60 04 30 <tag: Septet14> <count: Septet14> <packed data> <crc: Septet32> F7.
// The unit puts the reply's number within its read (from 0) in the two tag bytes.
std::vector<uint8_t> UnitReadReply(uint8_t model, uint32_t tag, const uint8_t* data,
                                   uint32_t count);

// F0 7E <deviceId> 06 02 7D <device code> <revision> F7
std::vector<uint8_t> UnitIdentityReply(uint8_t deviceId, const std::array<uint8_t, 4>& deviceCode,
                                       const std::array<uint8_t, 4>& revision);

// Vendor: F0 7D 00 <model> <command> F7; identity: F0 7E 7F 06 01 F7.
std::vector<uint8_t> UnitRequestMessage(uint8_t model, UnitRequest request);

}  // namespace kv5
