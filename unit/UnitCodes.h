// What the virtual unit tells apart in its input, and the result codes it answers with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv5 {

// The kinds of message the unit receives. The first six are the host's requests; the rest are
// answers of the host to the unit's own requests, and traffic the unit does not take as a request.
enum class MessageKind : uint8_t {
  Identity,         // F0 7E <any> 06 01 F7
  EnterUpdateMode,  // F0 7D 00 <model> 01 F7
  FlashWrite,       // F0 7D 00 <model> 02 ...
  FinishUpdate,     // F0 7D 00 <model> 04 F7
  FlashErase,       // F0 7D 00 <model> 0A ...
  MemoryRead,       // F0 7D 00 <model> 60 30 ...
  UnknownCommand,   // a well-framed vendor message with a command the unit does not handle
  HostResult,       // F0 7D .. .. 00 <code> F7: the host's answer to a vendor request of the unit
  HostIdentity,     // F0 7E .. 06 02 ...: the host's answer to the unit's identity request
  Malformed,        // begins F0 7D but is too short to carry a command, or is not one message
  Foreign,          // anything else: other manufacturers, other universal messages, no F0
  Any,              // in fault plans and triggers only: every message, counted together
};
constexpr size_t kMessageKindCount = static_cast<size_t>(MessageKind::Any);

// Short stable names: "identity", "enter", "write", "finish", "erase", "read", "unknown",
// "host-result", "host-identity", "malformed", "foreign", "any".
std::string_view KindName(MessageKind kind);
// Accepts the names above; nullopt for anything else.
std::optional<MessageKind> KindFromName(std::string_view name);

// How many messages of each kind arrived, indexed by MessageKind (Any not included).
using KindCounts = std::array<uint32_t, kMessageKindCount>;

// Result codes of the unit's ResultMessage. 0, 1 and 11 are fixed by the protocol; the others are
// the unit's own choice, one per reason for refusing a request.
namespace unitcode {
constexpr uint8_t kOk = 0;
constexpr uint8_t kUnknownCommand = 1;    // vendor command the unit does not handle
constexpr uint8_t kNotInUpdateMode = 11;  // EnterUpdateMode on a unit powered up normally
constexpr uint8_t kMalformed = 0x10;  // missing F7, a byte >= 0x80 inside, wrong length or layout
constexpr uint8_t kLengthMismatch =
    0x11;  // FlashWrite count disagrees with the data, 0 or too many
constexpr uint8_t kChecksumMismatch = 0x12;  // FlashWrite checksum differs from the unpacked data
constexpr uint8_t kBadPacking = 0x13;        // unused flag bits of the packed data are set
constexpr uint8_t kOutOfRange = 0x14;        // address or size outside the 2 MiB flash, or size 0
constexpr uint8_t kMisaligned = 0x15;        // erase not on 4 KiB sector boundaries
constexpr uint8_t kNotErased = 0x16;         // write over bytes that are not erased
constexpr uint8_t kUpdateModeOff = 0x17;     // erase or write on a unit powered up normally
constexpr uint8_t kUpdateNotEntered = 0x18;  // erase, write or finish before EnterUpdateMode
                                             // succeeded, or after FinishUpdate
constexpr uint8_t kWrongAddressee = 0x19;    // byte 2 not 00, or byte 3 not the unit's model byte
}  // namespace unitcode

// A one-line reason for a code the unit sends ("checksum mismatch"); "code N" when unknown.
std::string_view ResultCodeName(int code);

}  // namespace kv5
