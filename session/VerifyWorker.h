// The verify session: identify the unit, then read back every byte the update plan writes, in
// reads of one chunk, and compare it with the package's images.
#pragma once

#include <string>

#include "firmware/FirmwarePackage.h"
#include "session/SessionHost.h"

namespace kv5 {

// Runs the whole session on the calling (worker) thread; the verdicts go to the host's
// Verification(), cleared first. The ports stay open, as after an update. Always 0.
int VerifyWorker(SessionHost& host);

// "Verifying SYSTEM": the status line while a region is read back.
std::string VerifyingText(const FlashRegion& region);

}  // namespace kv5
