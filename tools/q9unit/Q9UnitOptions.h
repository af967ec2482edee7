// The q9-unit program's command line, turned into the virtual unit's configuration.
#pragma once

#include <string>
#include <vector>

#include "platform/midi/SystemMidi.h"
#include "unit/PackageCheck.h"
#include "unit/UnitConfig.h"

namespace kv5 {

struct Q9UnitOptions {
  std::string name = "TELVOR Q9";
  MidiSystem system = MidiSystem::Automatic;
  UnitConfig unit;
  PackageSource verifySource = PackageSource::BuildFiles;
  bool verbose = false;         // one line per handled message while running
  bool transcript = false;      // the whole transcript at exit
  bool verifyExitCode = false;  // exit status 1 when the flash does not verify
};

// Exit statuses of q9-unit.
constexpr int kQ9ExitOk = 0;
constexpr int kQ9ExitNotVerified = 1;  // only with --verify-exit
constexpr int kQ9ExitUsage = 2;
constexpr int kQ9ExitNoMidi = 3;  // the endpoint could not be published

// Parses the command line. Returns -1 to go on, or the exit status to end with at once (after
// --help or --version, or a usage error that has been printed).
int ParseQ9UnitOptions(int argc, char** argv, Q9UnitOptions* options);

}  // namespace kv5
