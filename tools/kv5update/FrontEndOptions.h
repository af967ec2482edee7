// What the command line asked for, once parsed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "unit/FaultPlan.h"
#include "unit/UnitConfig.h"

namespace kv5 {

enum class Command { List, Probe, Check, Update, Verify };

// The word that names each command on the command line.
inline constexpr std::pair<Command, const char*> kCommandWords[] = {
    {Command::List, "list"},     {Command::Probe, "probe"},   {Command::Check, "check"},
    {Command::Update, "update"}, {Command::Verify, "verify"},
};

// How much the run says besides its results and errors.
enum class Talk {
  Normal,
  Verbose,  // -v: also every line of the support log, on stderr
  Quiet,    // -q: results and errors only (no progress, no warnings)
};

enum class BackendChoice {
  Default,  // as the window chooses: the ALSA sequencer, else a running JACK server
  Alsa,
  Jack,
  Virtual,  // an in-process virtual unit on loopback MIDI
};

struct FrontEndOptions {
  Command command = Command::List;
  BackendChoice backend = BackendChoice::Default;
  // A list index or an exact device name; nullopt leaves the window's preselection.
  std::optional<std::string> inDevice;
  std::optional<std::string> outDevice;
  // Use the one unit that probing finds (--probe).
  bool probe = false;
  // Write the support log there (--log FILE).
  std::optional<std::string> logPath;
  // update --all: every unit probing finds, or the pairs given (IN, OUT as --in/--out take them).
  bool all = false;
  std::vector<std::pair<std::string, std::string>> pairs;
  // A session run for update --all: progress as lines for the parent to read.
  bool childReport = false;
  // update --verify: read the flash back after a completed update.
  bool verify = false;
  // Allows writing the synthetic test package to a device that is not the in-process unit.
  bool writeTestPackage = false;
  // How the in-process virtual unit starts (--backend virtual only).
  UnitConfig unit;
  Talk talk = Talk::Normal;
  // --json: one JSON document on stdout; progress and messages go to stderr.
  bool json = false;
  // check --exit-code: exit with kExitUpdateAvailable when a stamp differs from the package's.
  bool updateExitCode = false;
  // The command line as typed, program name first, for the support log.
  std::vector<std::string> commandLine;
};

}  // namespace kv5
