// Runs one command of kv5update through the updater dialog's own logic, on a console view.
#pragma once

#include <atomic>

#include "platform/midi/MidiBackend.h"
#include "protocol/SessionTiming.h"
#include "tools/kv5update/FrontEndOptions.h"
#include "tools/kv5update/SessionReporter.h"

namespace kv5 {

// Returns the exit code. `interrupt` holds the number of a signal that asks the session to end
// (0 while none came); it is read on this thread only.
int RunFrontEnd(const FrontEndOptions& options, ConsoleStreams& streams,
                const std::atomic<int>& interrupt);

// The command on a MIDI system the caller owns; inProcessUnit says that the device on it is the
// in-process virtual unit (which may receive the synthetic test package without asking). The
// program runs the production timing; tests pass a faster table.
int RunCommand(const FrontEndOptions& options, MidiBackend& midi, bool inProcessUnit,
               ConsoleStreams& streams, const std::atomic<int>& interrupt,
               const SessionTiming& timing = kProductionTiming);

// argv in, exit code out: parses, then runs.
int Kv5UpdateMain(int argc, const char* const* argv, ConsoleStreams& streams,
                  const std::atomic<int>& interrupt);

}  // namespace kv5
