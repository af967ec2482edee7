// The unit's strict reading of what it receives: which kind of message it is, whether it is
// well formed down to the last byte, and the fields of the requests it acts on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "unit/UnitCodes.h"

namespace kv5 {

struct ParsedMessage {
  MessageKind kind = MessageKind::Foreign;
  // 0 when the message is well formed; otherwise the unitcode naming its flaw.
  uint8_t verdict = unitcode::kOk;
  // Whether the unit answers it at all: vendor messages addressed to a unit (but not the host's
  // result messages) and well-formed identity requests. Everything else is recorded and ignored.
  bool answerable = false;
  uint32_t address = 0;       // FlashWrite, FlashErase, MemoryRead
  uint32_t length = 0;        // erase size, write count, read count
  std::vector<uint8_t> data;  // FlashWrite: the unpacked bytes (when well formed)
  int hostCode = -1;          // HostResult: byte 5
};

// Checks one received message for a unit whose model byte is `model`. A FlashWrite of more than
// maxWriteBytes raw bytes counts as a length fault.
ParsedMessage ParseReceived(const uint8_t* bytes, size_t length, uint8_t model,
                            uint32_t maxWriteBytes);

}  // namespace kv5
