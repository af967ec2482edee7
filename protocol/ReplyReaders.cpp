#include "protocol/ReplyReaders.h"

namespace kv5 {

bool ReadIdentityReplyCode(const uint8_t* message, uint32_t length, DeviceCodeBytes* code) {
  if (length < 10) return false;
  if (message[0] != kSysexStart || message[1] != kUniversalNonRealTime ||
      message[3] != kGeneralInformation || message[4] != kIdentityReplyId)
    return false;
  for (int i = 0; i < 4; ++i) (*code)[i] = message[6 + i];
  return true;
}

bool ReadResultCode(const uint8_t* message, uint32_t length, uint8_t* code) {
  if (length < 6) return false;
  if (message[0] != kSysexStart || message[1] != kVendorId || message[4] != kCommandResult)
    return false;
  *code = message[5];
  return true;
}

bool ReadMemoryReadReply(const uint8_t* message, uint32_t length, MemoryReadReplyFields* fields) {
  if (length < 11) return false;
  if (message[0] != kSysexStart || message[1] != kVendorId || message[4] != kCommandMemory ||
      message[5] != kMemoryReplySubCode || message[6] != kMemoryReadSubCode)
    return false;
  const int count = DecodeSeptet14(message + 9);
  const int packedLength = PackedLength(count);
  if (length < static_cast<uint32_t>(16 + packedLength)) return false;
  fields->count = count;
  fields->packed = message + 11;
  fields->packedLength = packedLength;
  fields->checksum = DecodeSeptet32(message + 11 + packedLength);
  return true;
}

}  // namespace kv5
