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
// --help, or a usage error that has been printed).
int ParseQ9UnitOptions(int argc, char** argv, Q9UnitOptions* options);

// "write:5:01", "any:3:identity", "erase:2:05:before": the unit's own request REQUEST after (or
// before) its answer to the N-th message of KIND. False with a reason in *error.
bool ParseScheduledRequest(const std::string& text, ScheduledRequest* scheduled,
                           std::string* error);

// Eight hex digits: "4D001200".
bool ParseCode(const std::string& text, std::array<uint8_t, 4>* code);

}  // namespace kv5
