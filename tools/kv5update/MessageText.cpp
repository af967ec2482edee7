#include "tools/kv5update/MessageText.h"

#include <cstdio>
#include <vector>

#include "protocol/ProtocolMessages.h"
#include "protocol/ReplyReaders.h"
#include "protocol/SysexEncoding.h"
#include "tools/kv5update/Probe.h"
#include "unit/UnitCodes.h"

namespace kv5 {
namespace {

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", value);
  return text;
}

bool IsVendor(const uint8_t* m, uint32_t length) {
  return length >= 5 && m[0] == kSysexStart && m[1] == kVendorId;
}

bool IsGeneralInformation(const uint8_t* m, uint32_t length) {
  return length >= 5 && m[0] == kSysexStart && m[1] == kUniversalNonRealTime &&
         m[3] == kGeneralInformation;
}

// What a unit's result code says.
std::string ResultMeaning(uint8_t code, bool virtualUnitCodes) {
  if (code == 0) return "accepted";
  if (code == 11) return "not in its firmware update mode";
  if (virtualUnitCodes) {
    const std::string_view name = ResultCodeName(code);
    if (name != "other code") return "error: " + std::string(name);
  }
  return "error";
}

std::string DescribeSent(const uint8_t* m, uint32_t length) {
  switch (m[4]) {
    case kCommandResult:
      if (length < 6) return "result (short)";
      return "result code " + std::to_string(m[5]) +
             (m[5] == 0   ? " (acknowledged)"
              : m[5] == 1 ? " (command not handled)"
                          : "");
    case kCommandEnterUpdateMode:
      return "enter update mode";
    case kCommandFlashWrite: {
      if (length < 18) return "write (short)";
      const int count = DecodeSeptet14(m + 10);
      const int packed = PackedLength(count);
      std::string text = "write " + Hex32(DecodeSeptet32(m + 5)) + " len " + std::to_string(count);
      if (static_cast<uint32_t>(packed) + 18 <= length) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08X", DecodeSeptet32(m + 12 + packed));
        text += std::string(" CRC 0x") + crc;
      }
      return text;
    }
    case kCommandFinishUpdate:
      return "finish";
    case kCommandFlashErase:
      if (length < 16) return "erase (short)";
      return "erase " + Hex32(DecodeSeptet32(m + 5)) + " size " + Hex32(DecodeSeptet32(m + 10));
    case kCommandMemory:
      if (length < 17) return "read (short)";
      return "read " + Hex32(DecodeSeptet32(m + 6)) + " len " +
             std::to_string(DecodeSeptet32(m + 11));
    default:
      return "vendor command " + std::to_string(m[4]);
  }
}

std::string DescribeReceived(const uint8_t* m, uint32_t length, bool virtualUnitCodes) {
  switch (m[4]) {
    case kCommandResult: {
      uint8_t code = 0;
      if (!ReadResultCode(m, length, &code)) return "result (short)";
      return "result code " + std::to_string(code) + " (" + ResultMeaning(code, virtualUnitCodes) +
             ")";
    }
    case 0x01:
    case 0x04:
    case 0x05:
      return "the unit's own request " + std::to_string(m[4]);
    case 0x02:
      return "done (taken as success)";
    case kCommandMemory: {
      MemoryReadReplyFields fields;
      if (!ReadMemoryReadReply(m, length, &fields)) return "read reply, not accepted";
      std::vector<uint8_t> data(static_cast<size_t>(UnpackedLength(fields.packedLength)) + 8);
      Unpack7in8(data.data(), fields.packed, fields.packedLength);
      const bool good =
          SysexCrc32(data.data(), static_cast<uint32_t>(fields.count)) == fields.checksum;
      std::string text = "read reply " + std::to_string(fields.count) + " bytes";
      if (fields.count <= 16) {
        text += " \"";
        for (int i = 0; i < fields.count; ++i) {
          const char c = static_cast<char>(data[static_cast<size_t>(i)]);
          text += c >= 0x20 && c < 0x7F ? c : '.';
        }
        text += "\"";
      }
      return text + (good ? "" : " (checksum mismatch)");
    }
    default:
      return "vendor command " + std::to_string(m[4]);
  }
}

}  // namespace

std::string RequestKind(const uint8_t* m, uint32_t length) {
  if (IsGeneralInformation(m, length) && m[4] == kIdentityRequestId) return "identity";
  if (!IsVendor(m, length)) return {};
  const char* name = HostRequestName(m[4]);
  return name != nullptr ? name : "";
}

uint32_t RequestAddress(const uint8_t* m, uint32_t length) {
  if (!IsVendor(m, length)) return 0;
  if ((m[4] == kCommandFlashWrite || m[4] == kCommandFlashErase) && length >= 10) {
    return DecodeSeptet32(m + 5);
  }
  if (m[4] == kCommandMemory && length >= 11) return DecodeSeptet32(m + 6);
  return 0;
}

std::string DescribeMessage(const uint8_t* m, uint32_t length, Direction direction,
                            bool virtualUnitCodes) {
  if (IsGeneralInformation(m, length)) {
    if (m[4] == kIdentityRequestId) return "identity request";
    DeviceCodeBytes code{};
    if (m[4] == kIdentityReplyId && ReadIdentityReplyCode(m, length, &code)) {
      return "identity reply, device code " + FormatDeviceCode(code);
    }
    return "general information " + std::to_string(m[4]);
  }
  if (!IsVendor(m, length)) return "not for this program";
  return direction == Direction::Sent ? DescribeSent(m, length)
                                      : DescribeReceived(m, length, virtualUnitCodes);
}

std::string HexBytes(const uint8_t* bytes, uint32_t length, uint32_t maxHead, uint32_t tail) {
  std::string text;
  auto add = [&](uint32_t from, uint32_t to) {
    char byte[4];
    for (uint32_t i = from; i < to; ++i) {
      std::snprintf(byte, sizeof byte, "%02X", bytes[i]);
      if (!text.empty()) text += ' ';
      text += byte;
    }
  };
  if (length <= maxHead + tail) {
    add(0, length);
    return text;
  }
  add(0, maxHead);
  text += " ... (" + std::to_string(length) + " bytes) ...";
  add(length - tail, length);
  return text;
}

}  // namespace kv5
