// One builder per message the host sends. Each writes the complete message into the caller's
// buffer and returns its length; none can fail. Every vendor message carries the ModelByte the
// caller passes (byte 0 of the current DeviceCode).
#pragma once

#include <array>
#include <cstdint>

#include "protocol/SysexEncoding.h"

namespace kv5 {

constexpr uint8_t kSysexStart = 0xF0;
constexpr uint8_t kSysexEnd = 0xF7;
constexpr uint8_t kUniversalNonRealTime = 0x7E;
constexpr uint8_t kVendorId = 0x7D;
constexpr uint8_t kGeneralInformation = 0x06;
constexpr uint8_t kIdentityRequestId = 0x01;
constexpr uint8_t kIdentityReplyId = 0x02;

// Vendor commands (byte 4).
constexpr uint8_t kCommandResult = 0x00;
constexpr uint8_t kCommandEnterUpdateMode = 0x01;
constexpr uint8_t kCommandFlashWrite = 0x02;
constexpr uint8_t kCommandFinishUpdate = 0x04;
constexpr uint8_t kCommandFlashErase = 0x0A;
constexpr uint8_t kCommandMemory = 0x60;
constexpr uint8_t kMemoryReplySubCode = 0x04;
constexpr uint8_t kMemoryReadSubCode = 0x30;

// Result codes the host sends.
constexpr uint8_t kResultAcknowledge = 0;
constexpr uint8_t kResultNotHandled = 1;

using DeviceCodeBytes = std::array<uint8_t, 4>;

constexpr int kIdentityRequestLength = 6;
constexpr int kIdentityReplyLength = 15;
constexpr int kResultMessageLength = 7;
constexpr int kEnterUpdateModeLength = 6;
constexpr int kFinishUpdateLength = 6;
constexpr int kFlashEraseLength = 16;
constexpr int kMemoryReadRequestLength = 17;
constexpr int FlashWriteLength(int k) {
  return PackedLength(k) + 18;
}
constexpr int MemoryReadReplyLength(int d) {
  return PackedLength(d) + 17;
}
// The largest write the sessions send is one 4096-byte chunk: 4700 bytes on the wire.
constexpr int kWriteChunk = 4096;
constexpr int kMaxOutgoingMessage = FlashWriteLength(kWriteChunk);

int IdentityRequest(uint8_t* message);
int IdentityReply(uint8_t* message, const DeviceCodeBytes& echoCode);
int ResultMessage(uint8_t* message, uint8_t modelByte, uint8_t resultCode);
int EnterUpdateMode(uint8_t* message, uint8_t modelByte);
int FinishUpdate(uint8_t* message, uint8_t modelByte);
int FlashErase(uint8_t* message, uint8_t modelByte, uint32_t address, uint32_t size);
// k is 0..16383; the buffer holds FlashWriteLength(k) bytes.
int FlashWrite(uint8_t* message, uint8_t modelByte, uint32_t address, const uint8_t* data, int k);
int MemoryReadRequest(uint8_t* message, uint8_t modelByte, uint32_t address, uint32_t length);

// The short name of a vendor command the host sends as a request: "enter", "write", "finish",
// "erase" or "read"; nullptr for any other command byte (the result code among them).
const char* HostRequestName(uint8_t command);

}  // namespace kv5
