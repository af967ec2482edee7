#include "protocol/ProtocolMessages.h"

namespace kv5 {
namespace {

// The 5-byte head of every vendor message: F0 7D 00 ModelByte command.
void VendorHead(uint8_t* message, uint8_t modelByte, uint8_t command) {
  message[0] = kSysexStart;
  message[1] = kVendorId;
  message[2] = 0x00;
  message[3] = modelByte;
  message[4] = command;
}

}  // namespace

int IdentityRequest(uint8_t* message) {
  const uint8_t bytes[kIdentityRequestLength] = {
      kSysexStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityRequestId, kSysexEnd};
  for (int i = 0; i < kIdentityRequestLength; ++i) message[i] = bytes[i];
  return kIdentityRequestLength;
}

int IdentityReply(uint8_t* message, const DeviceCodeBytes& echoCode) {
  message[0] = kSysexStart;
  message[1] = kUniversalNonRealTime;
  message[2] = 0x00;
  message[3] = kGeneralInformation;
  message[4] = kIdentityReplyId;
  message[5] = kVendorId;
  for (int i = 0; i < 4; ++i) message[6 + i] = echoCode[i];
  // Software revision "1000".
  message[10] = '1';
  message[11] = '0';
  message[12] = '0';
  message[13] = '0';
  message[14] = kSysexEnd;
  return kIdentityReplyLength;
}

int ResultMessage(uint8_t* message, uint8_t modelByte, uint8_t resultCode) {
  VendorHead(message, modelByte, kCommandResult);
  message[5] = resultCode;
  message[6] = kSysexEnd;
  return kResultMessageLength;
}

int EnterUpdateMode(uint8_t* message, uint8_t modelByte) {
  VendorHead(message, modelByte, kCommandEnterUpdateMode);
  message[5] = kSysexEnd;
  return kEnterUpdateModeLength;
}

int FinishUpdate(uint8_t* message, uint8_t modelByte) {
  VendorHead(message, modelByte, kCommandFinishUpdate);
  message[5] = kSysexEnd;
  return kFinishUpdateLength;
}

int FlashErase(uint8_t* message, uint8_t modelByte, uint32_t address, uint32_t size) {
  VendorHead(message, modelByte, kCommandFlashErase);
  EncodeSeptet32(address, message + 5);
  EncodeSeptet32(size, message + 10);
  message[15] = kSysexEnd;
  return kFlashEraseLength;
}

int FlashWrite(uint8_t* message, uint8_t modelByte, uint32_t address, const uint8_t* data, int k) {
  VendorHead(message, modelByte, kCommandFlashWrite);
  EncodeSeptet32(address, message + 5);
  EncodeSeptet14(k, message + 10);
  const int packed = Pack7in8(message + 12, data, k);
  // The checksum covers the raw bytes, not their packed form.
  EncodeSeptet32(SysexCrc32(data, static_cast<uint32_t>(k < 0 ? 0 : k)), message + 12 + packed);
  message[17 + packed] = kSysexEnd;
  return packed + 18;
}

int MemoryReadRequest(uint8_t* message, uint8_t modelByte, uint32_t address, uint32_t length) {
  VendorHead(message, modelByte, kCommandMemory);
  message[5] = kMemoryReadSubCode;
  EncodeSeptet32(address, message + 6);
  EncodeSeptet32(length, message + 11);
  message[16] = kSysexEnd;
  return kMemoryReadRequestLength;
}

const char* HostRequestName(uint8_t command) {
  switch (command) {
    case kCommandEnterUpdateMode:
      return "enter";
    case kCommandFlashWrite:
      return "write";
    case kCommandFinishUpdate:
      return "finish";
    case kCommandFlashErase:
      return "erase";
    case kCommandMemory:
      return "read";
    default:
      return nullptr;
  }
}

}  // namespace kv5
