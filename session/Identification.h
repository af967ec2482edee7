// The identification every session starts with, and the error box each outcome other than
// Identified gives: one table for the update, the version check and the verify.
#pragma once

#include "session/GuardedHost.h"

namespace kv5 {

// 0 when the unit was identified and accepted; -1 after its error box (nothing after an abort).
// leaveBusy: the session leaves the busy state itself after the box (the version check leaves it
// when its result is posted instead).
int IdentifyOrReport(GuardedHost& host, bool leaveBusy);

}  // namespace kv5
