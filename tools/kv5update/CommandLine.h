// The command line of kv5update: subcommands list, check and update, the device and backend
// options, and the options of the in-process virtual unit.
#pragma once

#include <ostream>

#include "tools/kv5update/FrontEndOptions.h"

namespace kv5 {

struct ParseOutcome {
  bool run = false;  // false: end now with exitCode (help, version, or a usage error)
  int exitCode = 0;
};

// Parses argv into options. Help and version go to out, usage errors to err.
ParseOutcome ParseCommandLine(int argc, const char* const* argv, FrontEndOptions& options,
                              std::ostream& out, std::ostream& err);

}  // namespace kv5
