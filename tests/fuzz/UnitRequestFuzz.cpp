// Arbitrary bytes through the virtual unit. The parser must accept exactly the requests the host's
// builders make: a request it takes as well formed, rebuilt from its fields with the host's
// builder, gives back the same bytes. The responder must answer with complete SysEx messages only.
#include <algorithm>
#include <vector>

#include "FuzzTargets.h"
#include "protocol/ProtocolMessages.h"
#include "unit/RequestParser.h"
#include "unit/UnitResponder.h"

namespace kv5::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kModel = 0x4D;
constexpr uint32_t kMaxWrite = 4096;

// The host's own bytes for the request the parser read, or none for kinds the host never sends.
bool Rebuild(const ParsedMessage& parsed, const uint8_t* data, size_t size, Bytes* built) {
  built->assign(static_cast<size_t>(kMaxOutgoingMessage), 0);
  uint8_t* out = built->data();
  int length = 0;
  switch (parsed.kind) {
    case MessageKind::Identity:
      length = IdentityRequest(out);
      out[2] = size > 2 ? data[2] : 0;  // the unit takes a request for any device id
      break;
    case MessageKind::EnterUpdateMode:
      length = EnterUpdateMode(out, kModel);
      break;
    case MessageKind::FinishUpdate:
      length = FinishUpdate(out, kModel);
      break;
    case MessageKind::FlashErase:
      length = FlashErase(out, kModel, parsed.address, parsed.length);
      break;
    case MessageKind::MemoryRead:
      length = MemoryReadRequest(out, kModel, parsed.address, parsed.length);
      break;
    case MessageKind::FlashWrite:
      Require(parsed.data.size() == parsed.length, "write data and count disagree");
      length = FlashWrite(out, kModel, parsed.address, parsed.data.data(),
                          static_cast<int>(parsed.length));
      break;
    default:
      return false;
  }
  built->resize(static_cast<size_t>(length));
  return true;
}

bool WellFormedSysex(const Bytes& message) {
  return message.size() >= 2 && message.front() == kSysexStart && message.back() == kSysexEnd &&
         std::all_of(message.begin() + 1, message.end() - 1, [](uint8_t b) { return b < 0x80; });
}

// A unit with an erased flash that has entered update mode. Each input starts from a copy of it,
// assigned into the same object so the 2 MiB flash is copied in place, not mapped anew.
const UnitResponder& EnteredUnit() {
  static const UnitResponder unit = [] {
    UnitConfig config;
    config.initialFlash = InitialFlash::Factory;
    config.acceptIdenticalRewrite = true;
    UnitResponder entered(config);
    uint8_t enter[kEnterUpdateModeLength];
    EnterUpdateMode(enter, kModel);
    entered.Handle(enter, sizeof enter);
    Require(entered.UpdateEntered(), "the unit refused to enter update mode");
    return entered;
  }();
  return unit;
}

}  // namespace

int FuzzUnitRequestParser(const uint8_t* data, size_t size) {
  const ParsedMessage parsed = ParseReceived(data, size, kModel, kMaxWrite);
  if (parsed.verdict != unitcode::kOk || !parsed.answerable) return 0;
  Bytes built;
  if (!Rebuild(parsed, data, size, &built)) return 0;
  Require(built.size() == size && std::equal(built.begin(), built.end(), data),
          "the unit accepted a request the host would not build that way");
  return 0;
}

int FuzzUnitResponder(const uint8_t* data, size_t size) {
  static UnitResponder unit = EnteredUnit();
  unit = EnteredUnit();
  size_t begin = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != kSysexEnd && i + 1 != size) continue;
    const Reaction reaction = unit.Handle(data + begin, i + 1 - begin);
    for (const Outgoing& out : reaction.messages)
      Require(WellFormedSysex(out.bytes), "the unit sent a broken message");
    begin = i + 1;
  }
  return 0;
}

}  // namespace kv5::fuzz
