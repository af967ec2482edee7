// The firmware update session: identify, enter update mode, run the plan, finish.
#pragma once

#include <cstdint>

#include "session/SessionHost.h"

namespace kv5 {

// Runs the whole session on the calling (worker) thread. Always 0.
int UpdateWorker(SessionHost& host);

// The steps, for tests: each returns 0 when done and -1 when the session has ended (message
// shown and busy state left, or silently after an abort).
int RunPlan(SessionHost& host);
int EraseRegion(SessionHost& host, uint32_t address, uint32_t size);
int WriteImage(SessionHost& host, uint32_t address, uint32_t size, int resourceId);

}  // namespace kv5
