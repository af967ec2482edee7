// One update session as the user runs it: a fresh dialog on a console view, Execute, and the
// window's thread serving the worker until the session settles, the window is closed at the
// planned moment, or the session overruns its time bound (a hang).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "Watchdog.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"
#include "unit/VirtualUnit.h"

namespace kv5::soak {

enum class SessionEnd { Completed, Failed, Aborted, Hang };

struct SessionResult {
  SessionEnd end = SessionEnd::Hang;
  std::string message;        // Failed: the first error box, or "no message"
  bool flashMatches = false;  // Completed: the unit's flash equals the package
  std::string broken;         // a rule the session broke besides time and flash, if any
  std::chrono::milliseconds duration{0};
};

struct SessionSetup {
  LoopbackMidi& midi;  // the unit is its device 0, named so that the dialog preselects it
  TimerServices& timer;
  VirtualUnit& unit;
  SessionTiming timing;
  std::chrono::milliseconds bound;                      // longer is a hang
  std::optional<std::chrono::milliseconds> closeAfter;  // OnDestroy this long after Execute
  std::chrono::milliseconds teardownLimit;              // for OnDestroy and the destructor
};

// The dialog is torn down before this returns; the unit is left as the session left it.
SessionResult RunSession(const SessionSetup& setup, Watchdog& watchdog);

}  // namespace kv5::soak
