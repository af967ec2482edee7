// Faults the virtual unit injects into its answers, chosen by message kind and by occurrence
// ("the 3rd FlashWrite", "every FlashErase from the 2nd on"). Several faults may match one
// message; they combine as described at FaultAction.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "unit/UnitCodes.h"

namespace kv5 {

// Which occurrences of a kind a fault applies to, counted from 1 in arrival order.
struct Occurrence {
  uint32_t first = 1;
  uint32_t last = std::numeric_limits<uint32_t>::max();

  static Occurrence Nth(uint32_t n) { return {n, n}; }
  static Occurrence From(uint32_t n) { return {n, std::numeric_limits<uint32_t>::max()}; }
  static Occurrence Range(uint32_t from, uint32_t to) { return {from, to}; }
  static Occurrence Every() { return {}; }
  bool Contains(uint32_t n) const { return n >= first && n <= last; }
};

enum class FaultAction : uint8_t {
  DropRequest,         // the message is lost before the unit sees it: no effect, no answer
  DropAnswer,          // the unit acts on the request, but its answer is lost
  Delay,               // the answer leaves `delay` later (longer than the host waits: a late
                       // answer); delays of several matching faults add up
  AnswerCode,          // answer ResultMessage `code` instead, without acting on the request
  CorruptChecksum,     // read replies: the checksum field is one off
  CorruptReadCode,     // read replies: byte 5 (normally 04) becomes `code`
  CorruptReadSubCode,  // read replies: byte 6 (normally 30) becomes `code`
  InjectBefore,        // `message` is sent just before the answer (even if it is dropped)
  InjectAfter,         // `message` is sent just after the answer (even if it is dropped)
  GoSilent,            // from this message on the unit is hung: it neither acts nor sends
                       // anything (answers, own requests, injections); it still records
};
std::string_view FaultActionName(FaultAction action);

struct Fault {
  MessageKind kind = MessageKind::Any;  // Any counts every received message together
  Occurrence when;
  FaultAction action = FaultAction::DropAnswer;
  std::chrono::milliseconds delay{0};  // Delay
  uint8_t code = 0;                    // AnswerCode, CorruptReadCode, CorruptReadSubCode
  std::vector<uint8_t> message;        // InjectBefore, InjectAfter: sent as they stand
};

class FaultPlan {
 public:
  FaultPlan& Add(Fault fault);
  FaultPlan& DropRequest(MessageKind kind, Occurrence when);
  FaultPlan& DropAnswer(MessageKind kind, Occurrence when);
  FaultPlan& Delay(MessageKind kind, Occurrence when, std::chrono::milliseconds delay);
  FaultPlan& AnswerCode(MessageKind kind, Occurrence when, uint8_t code);
  FaultPlan& CorruptChecksum(Occurrence when);  // MemoryRead replies
  FaultPlan& CorruptReadCode(Occurrence when, uint8_t value = 0x01);
  FaultPlan& CorruptReadSubCode(Occurrence when, uint8_t value = 0x31);
  FaultPlan& Inject(MessageKind kind, Occurrence when, std::vector<uint8_t> message,
                    bool afterAnswer = false);
  FaultPlan& GoSilent(MessageKind kind, Occurrence when);

  const std::vector<Fault>& Faults() const { return faults_; }
  bool Empty() const { return faults_.empty(); }

  // The faults that apply to a message that is the `occurrence`-th of its kind and the
  // `overall`-th message received, in the order they were added.
  std::vector<const Fault*> Match(MessageKind kind, uint32_t occurrence, uint32_t overall) const;

  // Ready-made traffic to inject.
  static std::vector<uint8_t> ForeignMessage();          // a complete SysEx of another maker
  static std::vector<uint8_t> TruncatedVendorMessage();  // F0 7D 00 F7
  static std::vector<uint8_t> BytesWithoutF0();          // a result 0 that lacks its F0

  // Parses ACTION:KIND:OCCURRENCE[:VALUE], as the q9-unit program takes it:
  //   ACTION      drop | drop-request | delay (VALUE ms) | code (VALUE) | bad-crc |
  //               bad-read-code [VALUE hex] | bad-subcode [VALUE hex] | foreign | truncated |
  //               no-f0 | inject (VALUE hex bytes, e.g. F0437F00F7) | inject-after (same) |
  //               silent
  //   KIND        a KindName: identity, enter, write, finish, erase, read, unknown, any, ...
  //   OCCURRENCE  N | N- (from N on) | N-M | * (every)
  // nullopt with a reason in *error when the text does not parse.
  static std::optional<Fault> Parse(std::string_view text, std::string* error);

 private:
  std::vector<Fault> faults_;
};

// One line per fault, in the Parse syntax.
std::string DescribeFault(const Fault& fault);

}  // namespace kv5
