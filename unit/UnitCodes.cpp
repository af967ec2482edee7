#include "unit/UnitCodes.h"

namespace kv5 {
namespace {

constexpr std::array<std::string_view, kMessageKindCount + 1> kKindNames = {
    "identity", "enter",       "write",         "finish",    "erase",   "read",
    "unknown",  "host-result", "host-identity", "malformed", "foreign", "any",
};

}  // namespace

std::string_view KindName(MessageKind kind) {
  const auto index = static_cast<size_t>(kind);
  return index < kKindNames.size() ? kKindNames[index] : "?";
}

std::optional<MessageKind> KindFromName(std::string_view name) {
  for (size_t i = 0; i < kKindNames.size(); ++i) {
    if (kKindNames[i] == name) return static_cast<MessageKind>(i);
  }
  return std::nullopt;
}

std::string_view ResultCodeName(int code) {
  using namespace unitcode;
  switch (code) {
    case kOk:
      return "ok";
    case kUnknownCommand:
      return "unknown command";
    case kNotInUpdateMode:
      return "not in update mode";
    case kMalformed:
      return "malformed message";
    case kLengthMismatch:
      return "length disagrees with data";
    case kChecksumMismatch:
      return "checksum mismatch";
    case kBadPacking:
      return "bad packing";
    case kOutOfRange:
      return "outside the flash";
    case kMisaligned:
      return "erase not sector-aligned";
    case kNotErased:
      return "write over unerased flash";
    case kUpdateModeOff:
      return "unit not powered up in update mode";
    case kUpdateNotEntered:
      return "update mode not entered";
    case kWrongAddressee:
      return "not addressed to this unit";
    default:
      return "other code";
  }
}

}  // namespace kv5
