// The tests' timing table: sessions never sit out a production timeout in a test.
#pragma once

#include <algorithm>
#include <cstdint>

#include "protocol/SessionTiming.h"

namespace kv5 {

// Every reply waits up to waitMs, a chunk's a third of that, and pauses take a few milliseconds.
// The default suits sessions over a real transport on a loaded machine; tests that wait for
// scripted silences take a shorter wait so that their timeouts pass quickly.
inline SessionTiming FastTiming(uint32_t waitMs = 3000) {
  SessionTiming timing;
  timing.IdentifyWaitMs = waitMs;
  timing.EnterUpdateModeWaitMs = waitMs;
  timing.EnterUpdatePauseMs = 5;
  timing.MemoryReadWaitMs = waitMs;
  timing.EraseWaitMs = waitMs;
  timing.WriteWaitMs = std::max<uint32_t>(waitMs / 3, 20);
  timing.ResendPauseMs = 5;
  timing.FinishWaitMs = waitMs;
  return timing;
}

}  // namespace kv5
