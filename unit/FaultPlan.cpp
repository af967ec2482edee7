#include "unit/FaultPlan.h"

#include <cstdio>

#include "unit/UnitConfigText.h"

namespace kv5 {
namespace {

struct ActionName {
  FaultAction action;
  std::string_view name;
};
constexpr ActionName kActionNames[] = {
    {FaultAction::DropRequest, "drop-request"},
    {FaultAction::DropAnswer, "drop"},
    {FaultAction::Delay, "delay"},
    {FaultAction::AnswerCode, "code"},
    {FaultAction::CorruptChecksum, "bad-crc"},
    {FaultAction::CorruptReadCode, "bad-read-code"},
    {FaultAction::CorruptReadSubCode, "bad-subcode"},
    {FaultAction::InjectBefore, "inject"},
    {FaultAction::InjectAfter, "inject-after"},
    {FaultAction::GoSilent, "silent"},
};

std::optional<Occurrence> ParseOccurrence(std::string_view text) {
  if (text == "*") return Occurrence::Every();
  const size_t dash = text.find('-');
  if (dash == std::string_view::npos) {
    auto n = ParseNumber(text);
    if (!n || *n == 0) return std::nullopt;
    return Occurrence::Nth(*n);
  }
  auto first = ParseNumber(text.substr(0, dash));
  if (!first || *first == 0) return std::nullopt;
  if (dash + 1 == text.size()) return Occurrence::From(*first);
  auto last = ParseNumber(text.substr(dash + 1));
  if (!last || *last < *first) return std::nullopt;
  return Occurrence::Range(*first, *last);
}

std::optional<Fault> Fail(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return std::nullopt;
}

}  // namespace

std::string_view FaultActionName(FaultAction action) {
  for (const auto& entry : kActionNames) {
    if (entry.action == action) return entry.name;
  }
  return "?";
}

FaultPlan& FaultPlan::Add(Fault fault) {
  faults_.push_back(std::move(fault));
  return *this;
}

FaultPlan& FaultPlan::DropRequest(MessageKind kind, Occurrence when) {
  return Add({kind, when, FaultAction::DropRequest, {}, 0, {}});
}

FaultPlan& FaultPlan::DropAnswer(MessageKind kind, Occurrence when) {
  return Add({kind, when, FaultAction::DropAnswer, {}, 0, {}});
}

FaultPlan& FaultPlan::Delay(MessageKind kind, Occurrence when, std::chrono::milliseconds delay) {
  return Add({kind, when, FaultAction::Delay, delay, 0, {}});
}

FaultPlan& FaultPlan::AnswerCode(MessageKind kind, Occurrence when, uint8_t code) {
  return Add({kind, when, FaultAction::AnswerCode, {}, code, {}});
}

FaultPlan& FaultPlan::CorruptChecksum(Occurrence when) {
  return Add({MessageKind::MemoryRead, when, FaultAction::CorruptChecksum, {}, 0, {}});
}

FaultPlan& FaultPlan::CorruptReadCode(Occurrence when, uint8_t value) {
  return Add({MessageKind::MemoryRead, when, FaultAction::CorruptReadCode, {}, value, {}});
}

FaultPlan& FaultPlan::CorruptReadSubCode(Occurrence when, uint8_t value) {
  return Add({MessageKind::MemoryRead, when, FaultAction::CorruptReadSubCode, {}, value, {}});
}

FaultPlan& FaultPlan::Inject(MessageKind kind, Occurrence when, std::vector<uint8_t> message,
                             bool afterAnswer) {
  return Add({kind,
              when,
              afterAnswer ? FaultAction::InjectAfter : FaultAction::InjectBefore,
              {},
              0,
              std::move(message)});
}

FaultPlan& FaultPlan::GoSilent(MessageKind kind, Occurrence when) {
  return Add({kind, when, FaultAction::GoSilent, {}, 0, {}});
}

std::vector<const Fault*> FaultPlan::Match(MessageKind kind, uint32_t occurrence,
                                           uint32_t overall) const {
  std::vector<const Fault*> matching;
  for (const Fault& fault : faults_) {
    const bool applies = fault.kind == MessageKind::Any
                             ? fault.when.Contains(overall)
                             : fault.kind == kind && fault.when.Contains(occurrence);
    if (applies) matching.push_back(&fault);
  }
  return matching;
}

std::vector<uint8_t> FaultPlan::ForeignMessage() {
  // A complete, well-formed message of another manufacturer (id 0x47), 7-bit clean.
  return {0xF0, 0x47, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7};
}

std::vector<uint8_t> FaultPlan::TruncatedVendorMessage() {
  return {0xF0, 0x7D, 0x00, 0xF7};
}

std::vector<uint8_t> FaultPlan::BytesWithoutF0() {
  return {0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7};
}

std::optional<Fault> FaultPlan::Parse(std::string_view text, std::string* error) {
  const auto parts = SplitText(text, ':');
  if (parts.size() < 3 || parts.size() > 4) {
    return Fail(error,
                "a fault reads ACTION:KIND:OCCURRENCE[:VALUE], got '" + std::string(text) + "'");
  }
  Fault fault;
  const auto kind = KindFromName(parts[1]);
  if (!kind) return Fail(error, "unknown message kind '" + std::string(parts[1]) + "'");
  fault.kind = *kind;
  const auto when = ParseOccurrence(parts[2]);
  if (!when) return Fail(error, "bad occurrence '" + std::string(parts[2]) + "'");
  fault.when = *when;
  const std::string_view action = parts[0];
  const std::string_view value = parts.size() == 4 ? parts[3] : std::string_view{};

  if (action == "foreign" || action == "truncated" || action == "no-f0") {
    fault.action = FaultAction::InjectBefore;
    fault.message = action == "foreign"     ? ForeignMessage()
                    : action == "truncated" ? TruncatedVendorMessage()
                                            : BytesWithoutF0();
    return fault;
  }
  bool known = false;
  for (const auto& entry : kActionNames) {
    if (entry.name == action) {
      fault.action = entry.action;
      known = true;
    }
  }
  if (!known) return Fail(error, "unknown fault action '" + std::string(action) + "'");

  switch (fault.action) {
    case FaultAction::Delay: {
      auto ms = ParseNumber(value);
      if (!ms) return Fail(error, "delay needs a time in ms: delay:KIND:OCCURRENCE:MS");
      fault.delay = std::chrono::milliseconds(*ms);
      break;
    }
    case FaultAction::AnswerCode: {
      auto code = ParseNumber(value);
      if (!code || *code > 0x7F) return Fail(error, "code needs a result code 0..127");
      fault.code = static_cast<uint8_t>(*code);
      break;
    }
    case FaultAction::CorruptReadCode:
    case FaultAction::CorruptReadSubCode: {
      fault.code = fault.action == FaultAction::CorruptReadCode ? 0x01 : 0x31;
      if (!value.empty()) {
        auto byte = ParseNumber(value, 16);
        if (!byte || *byte > 0x7F) return Fail(error, "the replacement byte is hex 00..7F");
        fault.code = static_cast<uint8_t>(*byte);
      }
      break;
    }
    case FaultAction::InjectBefore:
    case FaultAction::InjectAfter: {
      auto bytes = ParseHexBytes(value);
      if (!bytes) return Fail(error, "inject needs hex bytes, e.g. inject:write:3:F0437F00F7");
      fault.message = std::move(*bytes);
      break;
    }
    default:
      if (!value.empty()) {
        return Fail(error, "fault '" + std::string(action) + "' takes no value");
      }
      break;
  }
  return fault;
}

std::string DescribeFault(const Fault& fault) {
  std::string text(FaultActionName(fault.action));
  text += ':';
  text += KindName(fault.kind);
  text += ':';
  if (fault.when.first == 1 && fault.when.last == Occurrence::Every().last) {
    text += '*';
  } else {
    text += std::to_string(fault.when.first);
    if (fault.when.last != fault.when.first) {
      text += '-';
      if (fault.when.last != Occurrence::Every().last) text += std::to_string(fault.when.last);
    }
  }
  char hex[4];
  switch (fault.action) {
    case FaultAction::Delay:
      text += ':' + std::to_string(fault.delay.count());
      break;
    case FaultAction::AnswerCode:
      text += ':' + std::to_string(fault.code);
      break;
    case FaultAction::CorruptReadCode:
    case FaultAction::CorruptReadSubCode:
      std::snprintf(hex, sizeof hex, "%02X", fault.code);
      text += ':';
      text += hex;
      break;
    case FaultAction::InjectBefore:
    case FaultAction::InjectAfter:
      text += ':';
      for (uint8_t b : fault.message) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        text += hex;
      }
      break;
    default:
      break;
  }
  return text;
}

}  // namespace kv5
