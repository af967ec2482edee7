// What a run of kv5update found, and its two ways out: text lines on stdout for a person, or one
// JSON document for a script (--json).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "session/FlashVerification.h"
#include "session/VersionTable.h"
#include "tools/kv5update/FrontEndOptions.h"
#include "tools/kv5update/Probe.h"
#include "tools/kv5update/UnitsSideBySide.h"

namespace kv5 {

struct ListedDevices {
  std::vector<std::string> entries;
  int selected = -1;  // the preselection (list), or the device chosen (a session)
};

struct RunRecord {
  std::string midiSystem;
  // list: the devices; a command of one unit: the lists with the devices it used selected.
  std::optional<ListedDevices> in;
  std::optional<ListedDevices> out;
  std::optional<ProbeResult> probe;  // probe, and --probe
  std::optional<VersionTable> versions;
  std::optional<FlashVerification> verification;
  std::vector<UnitProgress> units;  // update --all
  std::optional<std::string> logPath;
  // How the run ended.
  int exitCode = 0;
  std::string result;  // "listed", "checked", "completed", "failed", "not started", ...
  std::string message;
  std::string nextStep;
};

// "component<TAB>unit -> package", then a line for each component: the unit's stamp, and the
// arrow and the package's where they differ. A stamp that could not be read shows as "(not read)".
std::string VersionTableText(const VersionTable& table);
// True when a stamp of the unit differs from the package's or could not be read.
bool UpdateAvailable(const VersionTable& table);

// "MIDI IN devices:" and its entries ("* 0  TELVOR Q9"), then the same for MIDI OUT.
void PrintDeviceLists(const ListedDevices& in, const ListedDevices& out, std::ostream& stream);
// "SYSTEM: verified", or where the flash first differs, one line per region.
std::vector<std::string> VerificationLines(const FlashVerification& verification);

// The run as one JSON document (without the final newline).
std::string RunDocument(const FrontEndOptions& options, const RunRecord& record);

}  // namespace kv5
