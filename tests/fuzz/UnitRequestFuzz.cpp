// Arbitrary bytes through the virtual unit. The parser must accept exactly the requests the host's
// builders make: a request it takes as well formed, rebuilt from its fields with the host's
// builder, gives back the same bytes. The responder must answer with complete SysEx messages only.
#include <algorithm>
#include <utility>
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
// A read of up to 2 MiB takes the same path as one of three replies, but costs the packing of
// every byte it asks for: longer reads are left out, so the time goes to the unit's logic.
constexpr uint32_t kMaxRead = 3 * UnitConfig{}.maxReadReplyBytes;

bool LongRead(const uint8_t* message, size_t length) {
  const ParsedMessage parsed = ParseReceived(message, length, kModel, kMaxWrite);
  return parsed.kind == MessageKind::MemoryRead && parsed.length > kMaxRead;
}

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

// A unit with an erased flash that has entered update mode, its flash moved out: each input
// starts from a copy of it, which then costs a few hundred bytes rather than the 2 MiB flash.
const UnitResponder& HollowEnteredUnit() {
  static const UnitResponder unit = [] {
    UnitConfig config;
    config.initialFlash = InitialFlash::Factory;
    config.acceptIdenticalRewrite = true;
    UnitResponder entered(config);
    uint8_t enter[kEnterUpdateModeLength];
    EnterUpdateMode(enter, kModel);
    entered.Handle(enter, sizeof enter);
    Require(entered.UpdateEntered(), "the unit refused to enter update mode");
    FlashModel taken = std::move(entered.MutableFlash());
    return entered;
  }();
  return unit;
}

// Where an input's accepted writes landed: erased again afterwards, the flash is the factory's
// once more (an erase only ever leaves erased bytes).
struct Written {
  uint32_t address;
  uint32_t length;
};

void EraseWritten(FlashModel& flash, const std::vector<Written>& written) {
  static const std::vector<uint8_t> erased(kMaxWrite, FlashModel::kErased);
  for (const Written& range : written) {
    for (uint32_t done = 0; done < range.length; done += kMaxWrite) {
      const uint32_t piece = std::min(kMaxWrite, range.length - done);
      Require(flash.Load(range.address + done, erased.data(), piece), "a write outside the flash");
    }
  }
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
  static UnitResponder unit = HollowEnteredUnit();
  static FlashModel flash;  // erased, as the factory leaves it
  unit = HollowEnteredUnit();
  std::swap(unit.MutableFlash(), flash);
  std::vector<Written> written;
  size_t begin = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != kSysexEnd && i + 1 != size) continue;
    if (LongRead(data + begin, i + 1 - begin)) {
      begin = i + 1;
      continue;
    }
    const Reaction reaction = unit.Handle(data + begin, i + 1 - begin);
    for (const Outgoing& out : reaction.messages)
      Require(WellFormedSysex(out.bytes), "the unit sent a broken message");
    const TranscriptEntry& entry = reaction.entry;
    if (entry.kind == MessageKind::FlashWrite && entry.code == unitcode::kOk)
      written.push_back({entry.address, entry.length});
    begin = i + 1;
  }
  EraseWritten(unit.MutableFlash(), written);
  std::swap(unit.MutableFlash(), flash);
  return 0;
}

}  // namespace kv5::fuzz
