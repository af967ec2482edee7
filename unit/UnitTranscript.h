// What the virtual unit received and how it answered, and what the host answered to the unit's
// own requests: the record a test or the q9-unit program inspects afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "unit/FaultPlan.h"
#include "unit/UnitCodes.h"
#include "unit/UnitConfig.h"

namespace kv5 {

enum class AnswerKind : uint8_t {
  None,           // nothing was sent (ignored, dropped or silent)
  Result,         // a ResultMessage; see code
  ReadReply,      // one or more MemoryReadReply messages
  IdentityReply,  // an identity reply
};

struct TranscriptEntry {
  uint64_t sequence = 0;           // 1-based over every received message
  std::chrono::microseconds at{};  // when it was handled, from the unit's start
  MessageKind kind = MessageKind::Foreign;
  uint32_t occurrence = 0;     // 1-based count within its kind
  uint32_t address = 0;        // erase, write, read: the device address of the request
  uint32_t length = 0;         // erase: region size; write: raw bytes; read: bytes asked for
  uint32_t messageLength = 0;  // bytes of the received message
  uint8_t verdict = 0;  // the unit's judgement of the message: 0 well formed, else the unitcode
                        // that names the flaw (kept even when nothing was answered)
  // What the unit answered, or would have answered when a DropAnswer fault swallowed it.
  AnswerKind answer = AnswerKind::None;
  int code = -1;        // result code of a Result answer, -1 otherwise
  uint32_t faults = 0;  // bit (1 << FaultAction) for every fault that applied
  bool HadFault(FaultAction action) const { return (faults >> static_cast<unsigned>(action)) & 1u; }
};

// The host's answer to one of the unit's own requests, with the request it answers: requests are
// matched to answers first in, first out; an answer with nothing outstanding has no request.
struct HostAnswer {
  MessageKind kind = MessageKind::HostResult;  // HostResult or HostIdentity
  std::vector<uint8_t> bytes;                  // the whole message as received
  std::optional<UnitRequest> request;
  int code = -1;  // HostResult: byte 5
};

// "#12 write 0x04B000 +4096 -> result 0 [delay]"
std::string DescribeEntry(const TranscriptEntry& entry);
// Counts per kind, refusals by code, faults applied, bytes erased and written: a few lines.
std::string SummarizeTranscript(const std::vector<TranscriptEntry>& transcript);

}  // namespace kv5
