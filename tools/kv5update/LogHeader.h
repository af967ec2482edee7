// The first lines of a support log: when and where the run began, with what, and against what.
#pragma once

#include <string>
#include <vector>

#include "tools/kv5update/FrontEndOptions.h"

namespace kv5 {

class SessionLog;

// The start time, program and package, the operating system, the whole command line, the MIDI
// system and, for the virtual unit, how it starts and the faults it injects.
void WriteLogHeader(SessionLog& log, const FrontEndOptions& options, const std::string& system);

// The words of a command line as a shell takes them back: quoted where they hold blanks or quotes.
std::string QuotedCommandLine(const std::vector<std::string>& words);

}  // namespace kv5
