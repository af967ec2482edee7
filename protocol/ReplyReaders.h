// The fields the host reads from the unit's messages. Every reader first checks that the message
// reaches each byte it reads and never looks past the length it is given.
#pragma once

#include <cstdint>

#include "protocol/ProtocolMessages.h"

namespace kv5 {

// F0 7E any 06 02 with the device code at bytes 6..9 (10 bytes at least).
bool ReadIdentityReplyCode(const uint8_t* message, uint32_t length, DeviceCodeBytes* code);

// F0 7D any any 00 with the result code at byte 5 (6 bytes at least).
bool ReadResultCode(const uint8_t* message, uint32_t length, uint8_t* code);

// The parts of a memory read reply F0 7D any any 60 04 30: the raw byte count (bytes 9..10),
// where its packed data begins and how long it is, and the checksum that follows it.
struct MemoryReadReplyFields {
  int count = 0;
  const uint8_t* packed = nullptr;
  int packedLength = 0;
  uint32_t checksum = 0;
};
// False when the head is not 60 04 30 or the message ends before the checksum's last byte.
bool ReadMemoryReadReply(const uint8_t* message, uint32_t length, MemoryReadReplyFields* fields);

}  // namespace kv5
