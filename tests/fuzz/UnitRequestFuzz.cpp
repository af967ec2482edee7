// Arbitrary bytes through the virtual unit. The parser must accept exactly the requests the host's
// builders make: a request it takes as well formed, rebuilt from its fields with the host's
// builder, gives back the same bytes. The responder must answer with complete SysEx messages only.
#include <algorithm>
#include <cstring>
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
// every byte it asks for: longer reads are left out, so the time goes to the unit's logic. The
// fuzzed unit also answers in shorter replies than the real one's 4096 bytes: several replies,
// a short last one and a count of two septets take the same paths at a fourteenth of the packing.
constexpr uint32_t kReplyBytes = 300;
constexpr uint32_t kMaxRead = 3 * kReplyBytes;

// Only a request of the read's own length can ask for bytes, so other messages (the long writes
// among them) are not parsed twice.
bool LongRead(const uint8_t* message, size_t length) {
  if (length != static_cast<size_t>(kMemoryReadRequestLength)) return false;
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

// The harness's own check of every byte the unit sends is kept out of the comparison tracing: it
// finds no path in the code under test, and a read's replies hold every byte the read asked for.
KV5_FUZZ_NOT_TRACED bool WellFormedSysex(const Bytes& message) {
  const size_t size = message.size();
  if (size < 2 || message[0] != kSysexStart || message[size - 1] != kSysexEnd) return false;
  uint8_t high = 0;
  for (size_t i = 1; i + 1 < size; ++i) high |= message[i];
  return (high & 0x80) == 0;
}

// A unit with an erased flash that has entered update mode, its flash moved out: each input
// starts from a copy of it, which then costs a few hundred bytes rather than the 2 MiB flash.
const UnitResponder& HollowEnteredUnit() {
  static const UnitResponder unit = [] {
    UnitConfig config;
    config.initialFlash = InitialFlash::Factory;
    config.acceptIdenticalRewrite = true;
    config.maxReadReplyBytes = kReplyBytes;
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
  std::swap(unit.MutableFlash(), flash);
  std::vector<Written> written;
  const uint8_t* const end = data + size;
  for (const uint8_t* begin = data; begin != end;) {
    // Each message ends after an F7, the last one at the end of the input.
    const void* f7 = std::memchr(begin, kSysexEnd, static_cast<size_t>(end - begin));
    const uint8_t* next = f7 != nullptr ? static_cast<const uint8_t*>(f7) + 1 : end;
    const size_t length = static_cast<size_t>(next - begin);
    if (!LongRead(begin, length)) {
      const Reaction reaction = unit.Handle(begin, length);
      for (const Outgoing& out : reaction.messages)
        Require(WellFormedSysex(out.bytes), "the unit sent a broken message");
      const TranscriptEntry& entry = reaction.entry;
      if (entry.kind == MessageKind::FlashWrite && entry.code == unitcode::kOk)
        written.push_back({entry.address, entry.length});
    }
    begin = next;
  }
  EraseWritten(unit.MutableFlash(), written);
  std::swap(unit.MutableFlash(), flash);
  // Back to the entered unit now rather than before the next input: what this input's messages
  // left in the unit (the host's answers it holds) is freed within the input, so libFuzzer sees
  // no more allocations than frees and does not run the input again to look for a leak.
  unit = HollowEnteredUnit();
  return 0;
}

}  // namespace kv5::fuzz
