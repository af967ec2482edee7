// Every wait, pause and attempt count of the exchanges and sessions. The programs use the
// production values, compiled in; tests pass a faster table.
#pragma once

#include <cstdint>

namespace kv5 {

struct SessionTiming {
  uint32_t IdentifyWaitMs = 30000;         // answer to the identity request
  uint32_t EnterUpdateModeWaitMs = 30000;  // answer to EnterUpdateMode
  uint32_t EnterUpdatePauseMs = 500;       // after the unit accepted EnterUpdateMode
  uint32_t MemoryReadWaitMs = 60000;       // each 4-byte memory read
  uint32_t EraseWaitMs = 60000;            // each FlashErase
  int EraseAttempts = 7;                   // error answers that end an erase
  uint32_t WriteWaitMs = 1000;             // each FlashWrite chunk
  int WriteAttempts = 32;                  // consecutive failures that end a write
  uint32_t ResendPauseMs = 100;            // before every resend
  uint32_t FinishWaitMs = 30000;           // answer to FinishUpdate
};

inline constexpr SessionTiming kProductionTiming{};

}  // namespace kv5
