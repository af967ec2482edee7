// The version check session: identify, read the four stamps, close the ports, post the result.
#pragma once

#include "session/SessionHost.h"

namespace kv5 {

// Runs the whole check on the calling (worker) thread and posts VersionCheckDone. Always 0.
int VersionCheckWorker(SessionHost& host);

}  // namespace kv5
