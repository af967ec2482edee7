#include "unit/RequestParser.h"

#include <algorithm>

#include "protocol/SysexEncoding.h"

namespace kv5 {
namespace {

constexpr uint8_t kSysexStart = 0xF0;
constexpr uint8_t kSysexEnd = 0xF7;
constexpr uint8_t kVendorId = 0x7D;
constexpr uint8_t kUniversalNonRealTime = 0x7E;

// One message from F0 to F7 with every byte between them below 0x80.
bool WellFramed(const uint8_t* m, size_t length) {
  if (length < 2 || m[0] != kSysexStart || m[length - 1] != kSysexEnd) return false;
  return std::all_of(m + 1, m + length - 1, [](uint8_t b) { return b < 0x80; });
}

// A Septet32 field whose top group uses only its four low bits.
bool ReadSeptet32(const uint8_t* field, uint32_t* value) {
  if (field[4] > 0x0F) return false;
  *value = DecodeSeptet32(field);
  return true;
}

MessageKind VendorKind(const uint8_t* m, size_t length) {
  switch (m[4]) {
    case 0x00:
      return MessageKind::HostResult;
    case 0x01:
      return MessageKind::EnterUpdateMode;
    case 0x02:
      return MessageKind::FlashWrite;
    case 0x04:
      return MessageKind::FinishUpdate;
    case 0x0A:
      return MessageKind::FlashErase;
    case 0x60:
      // The sub-command decides; without one the message cannot be read as a request.
      if (length < 7) return MessageKind::Malformed;
      return m[5] == 0x30 ? MessageKind::MemoryRead : MessageKind::UnknownCommand;
    default:
      return MessageKind::UnknownCommand;
  }
}

void ParseFlashWrite(const uint8_t* m, size_t length, uint32_t maxWriteBytes,
                     ParsedMessage& parsed) {
  if (length < 18) {
    parsed.verdict = unitcode::kMalformed;
    return;
  }
  if (!ReadSeptet32(m + 5, &parsed.address)) {
    parsed.verdict = unitcode::kMalformed;
    return;
  }
  const int count = DecodeSeptet14(m + 10);
  parsed.length = static_cast<uint32_t>(count);
  const int packedPresent = static_cast<int>(length) - 18;
  if (count == 0 || static_cast<uint32_t>(count) > maxWriteBytes ||
      packedPresent != PackedLength(count)) {
    parsed.verdict = unitcode::kLengthMismatch;
    return;
  }
  const uint8_t* packed = m + 12;
  parsed.data.resize(static_cast<size_t>(count));
  Unpack7in8(parsed.data.data(), packed, packedPresent);
  // Packing is unique: flag bits of positions a short last group lacks must be clear.
  std::vector<uint8_t> repacked(static_cast<size_t>(packedPresent));
  Pack7in8(repacked.data(), parsed.data.data(), count);
  if (!std::equal(repacked.begin(), repacked.end(), packed)) {
    parsed.verdict = unitcode::kBadPacking;
    return;
  }
  uint32_t checksum = 0;
  if (!ReadSeptet32(m + 12 + packedPresent, &checksum)) {
    parsed.verdict = unitcode::kMalformed;
    return;
  }
  if (checksum != SysexCrc32(parsed.data.data(), static_cast<uint32_t>(count))) {
    parsed.verdict = unitcode::kChecksumMismatch;
  }
}

void ParseVendor(const uint8_t* m, size_t length, uint8_t model, uint32_t maxWriteBytes,
                 ParsedMessage& parsed) {
  if (length < 6 || m[4] >= 0x80) {
    // Too short to carry a command (F0 7D 00 F7, F0 7D 00 4D F7), or the command is not a byte
    // of a message at all.
    parsed.kind = MessageKind::Malformed;
    parsed.verdict = unitcode::kMalformed;
    parsed.answerable = true;
    return;
  }
  parsed.kind = VendorKind(m, length);
  const bool framed = WellFramed(m, length);
  if (parsed.kind == MessageKind::HostResult) {
    // The host's answer carries whatever model byte it knew; only its shape is checked.
    if (!framed || length != 7) {
      parsed.verdict = unitcode::kMalformed;
    } else {
      parsed.hostCode = m[5];
    }
    return;
  }
  parsed.answerable = true;
  if (!framed || parsed.kind == MessageKind::Malformed) {
    parsed.verdict = unitcode::kMalformed;
    return;
  }
  if (m[2] != 0x00 || m[3] != (model & 0x7F)) {
    parsed.verdict = unitcode::kWrongAddressee;
    return;
  }
  switch (parsed.kind) {
    case MessageKind::EnterUpdateMode:
    case MessageKind::FinishUpdate:
      if (length != 6) parsed.verdict = unitcode::kMalformed;
      break;
    case MessageKind::FlashErase:
      if (length != 16 || !ReadSeptet32(m + 5, &parsed.address) ||
          !ReadSeptet32(m + 10, &parsed.length)) {
        parsed.verdict = unitcode::kMalformed;
      }
      break;
    case MessageKind::MemoryRead:
      if (length != 17 || !ReadSeptet32(m + 6, &parsed.address) ||
          !ReadSeptet32(m + 11, &parsed.length)) {
        parsed.verdict = unitcode::kMalformed;
      }
      break;
    case MessageKind::FlashWrite:
      ParseFlashWrite(m, length, maxWriteBytes, parsed);
      break;
    default:  // UnknownCommand: answered with code 1 whatever follows the command
      break;
  }
}

void ParseUniversal(const uint8_t* m, size_t length, ParsedMessage& parsed) {
  if (length < 5 || m[3] != 0x06) return;  // not General Information: foreign
  if (m[4] == 0x01) {
    parsed.kind = MessageKind::Identity;
    // F0 7E <any device id> 06 01 F7 and nothing else; a unit ignores a bent request.
    if (length == 6 && WellFramed(m, length)) {
      parsed.answerable = true;
    } else {
      parsed.verdict = unitcode::kMalformed;
    }
  } else if (m[4] == 0x02) {
    parsed.kind = MessageKind::HostIdentity;
    // The host's identity reply: 15 bytes, device id 00, maker 7D, code, revision.
    if (length != 15 || !WellFramed(m, length) || m[2] != 0x00 || m[5] != kVendorId) {
      parsed.verdict = unitcode::kMalformed;
    }
  }
}

}  // namespace

ParsedMessage ParseReceived(const uint8_t* bytes, size_t length, uint8_t model,
                            uint32_t maxWriteBytes) {
  ParsedMessage parsed;
  if (bytes == nullptr || length < 2 || bytes[0] != kSysexStart) return parsed;  // Foreign
  if (bytes[1] == kVendorId) {
    ParseVendor(bytes, length, model, maxWriteBytes, parsed);
  } else if (bytes[1] == kUniversalNonRealTime) {
    ParseUniversal(bytes, length, parsed);
  }
  return parsed;
}

}  // namespace kv5
