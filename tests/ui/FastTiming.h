// The timing table of the window and dialog tests.
#pragma once

#include "protocol/SessionTiming.h"

namespace kv5 {

// Short waits for sessions against the virtual unit; a test never sits out a production timeout.
inline SessionTiming FastTiming() {
  SessionTiming timing;
  timing.IdentifyWaitMs = 3000;
  timing.EnterUpdateModeWaitMs = 3000;
  timing.EnterUpdatePauseMs = 5;
  timing.MemoryReadWaitMs = 3000;
  timing.EraseWaitMs = 3000;
  timing.WriteWaitMs = 1000;
  timing.ResendPauseMs = 5;
  timing.FinishWaitMs = 3000;
  return timing;
}

}  // namespace kv5
