// What one soak session does to the unit: a fault drawn at random (or none), the window closing at
// a random moment, and how long the session may take at most under the soak's timing table.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "protocol/SessionTiming.h"
#include "unit/UnitConfig.h"

namespace kv5::soak {

// Short waits, so that faults which run into timeouts pass quickly; scale > 1 lengthens every wait
// (not the pauses) for slow builds such as the sanitizer ones.
SessionTiming SoakTiming(double scale);

// What a session ends in, whatever the fault.
enum class Expectation : uint8_t {
  Completes,  // the fault is one the update must ride out
  Any,        // completing or failing are both right; only time, flash and recovery are judged
};

struct SessionPlan {
  std::string label;  // one line, e.g. "late answer to write #57 (+90 ms)"
  InitialFlash initialFlash = InitialFlash::OlderFirmware;
  bool acceptIdenticalRewrite = false;
  std::vector<Fault> faults;  // occurrences count from the unit's start
  std::vector<ScheduledRequest> ownRequests;
  bool poweredUpNormally = false;                       // EnterUpdateMode is answered with 11
  std::optional<std::array<uint8_t, 4>> deviceCode;     // a code the package does not accept
  std::optional<std::chrono::milliseconds> closeAfter;  // OnDestroy this long after Execute
  bool wakeForRecovery = false;  // the unit went silent or is out of update mode
  Expectation expectation = Expectation::Any;
  // What the fault can add to a clean session's time, from the timing table.
  std::chrono::milliseconds extraTime{0};
};

// Draws one session's plan. cleanTime is how long a clean update took on this machine.
SessionPlan DrawPlan(std::mt19937_64& random, const SessionTiming& timing,
                     std::chrono::milliseconds cleanTime);

// Two faults in one session: the second plan's faults, requests and conditions join the first's
// (whose flash and unit settings stay). Expectation Any; the extra times add up.
SessionPlan Combine(SessionPlan first, const SessionPlan& second);

// The seed of session `index` of a soak run with `seed`: each session can be replayed alone.
uint64_t SessionSeed(uint64_t seed, uint32_t index);

}  // namespace kv5::soak
