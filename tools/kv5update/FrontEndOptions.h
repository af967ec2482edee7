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
};

}  // namespace kv5
