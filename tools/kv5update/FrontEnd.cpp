#include "tools/kv5update/FrontEnd.h"

#include <cstdio>
#include <memory>
#include <string>

#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"
#include "tools/kv5update/CommandLine.h"
#include "tools/kv5update/ConsoleView.h"
#include "tools/kv5update/ConsoleWindow.h"
#include "tools/kv5update/DeviceChoice.h"
#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/MidiSetup.h"
#include "tools/kv5update/NextSteps.h"
#include "tools/kv5update/Probe.h"
#include "tools/kv5update/SessionLog.h"
#include "tools/kv5update/TestPackageGuard.h"
#include "tools/kv5update/UnitsSideBySide.h"

namespace kv5 {
namespace {

struct ListInfo {
  int id;
  const char* name;
  const char* option;
};
constexpr ListInfo kInList{IDC_IN_DEVICE_LIST, "MIDI IN", "--in"};
constexpr ListInfo kOutList{IDC_OUT_DEVICE_LIST, "MIDI OUT", "--out"};

// Why a device list can be empty, in words for the owner of the unit.
std::string EmptyListReason(const std::string& backend) {
  if (backend == "none") return "neither the ALSA sequencer nor a running JACK server was found.";
  const std::string system = backend == "alsa"   ? "the ALSA sequencer"
                             : backend == "jack" ? "the JACK server"
                                                 : "the " + backend + " MIDI system";
  return system + " shows no device. Connect the unit, or choose another system with --backend.";
}

void PrintLists(const ConsoleView& view, std::ostream& out) {
  for (const ListInfo& list : {kInList, kOutList}) {
    out << list.name << " devices:\n";
    const std::vector<std::string>& entries = view.ListEntries(list.id);
    if (entries.empty()) out << "  (none)\n";
    for (size_t i = 0; i < entries.size(); ++i) {
      const bool chosen = view.GetCurSel(list.id) == static_cast<int>(i);
      out << (chosen ? "* " : "  ") << i << "  " << entries[i] << '\n';
    }
  }
  out.flush();
}

// Applies --in/--out over the preselection; false with a message when a list ends up without a
// selection.
bool ChooseDevices(const FrontEndOptions& options, ConsoleView& view, const std::string& backend,
                   std::ostream& err) {
  for (const ListInfo& list : {kInList, kOutList}) {
    const std::optional<std::string>& wanted =
        list.id == IDC_IN_DEVICE_LIST ? options.inDevice : options.outDevice;
    const std::vector<std::string>& entries = view.ListEntries(list.id);
    if (wanted) {
      const DeviceLookup lookup = FindDevice(entries, *wanted, list.name);
      if (lookup.index < 0) {
        err << lookup.error << '\n';
        return false;
      }
      view.SetCurSel(list.id, lookup.index);
    } else if (view.GetCurSel(list.id) < 0) {
      if (entries.empty()) {
        err << "The " << list.name << " list is empty: " << EmptyListReason(backend) << '\n';
      } else {
        err << "No " << list.name << " device is preselected (none is named \"USB Audio "
            << "Device\" or \"TELVOR Q9\"). Pick one with " << list.option << " INDEX or "
            << list.option << " NAME; 'kv5update list' shows them.\n";
      }
      return false;
    }
  }
  return true;
}

struct Outcome {
  int code;
  std::string result;   // for the log: "completed", "failed", ...
  std::string message;  // the session's last word
};

Outcome SessionOutcome(Command command, const SessionReporter& reporter,
                       const FlashVerification& verification) {
  if (!reporter.Errors().empty()) return {kExitSessionFailed, "failed", reporter.Errors().back()};
  if (command == Command::Verify) {
    if (verification.AllVerified()) return {kExitOk, "verified", "The flash holds the package."};
    return {kExitSessionFailed, "differs", kFlashDiffersText};
  }
  if (command == Command::Check) {
    if (reporter.ReportShown()) return {kExitOk, "version report shown", ""};
    // The window shows nothing when a stamp read fails; a script needs to be told.
    return {kExitSessionFailed, "failed", kStampReadFailedText};
  }
  if (reporter.Completed()) return {kExitOk, "completed", LoadString(IDS_UPDATE_COMPLETED)};
  // The one silent ending of an update: the BOOT stamp read before anything is erased.
  return {kExitSessionFailed, "failed", kBootReadFailedText};
}

// The line under a failure's message that says what to do next.
void PrintNextStep(Command command, const std::string& message, std::ostream& err) {
  const std::string next =
      NextStepFor(command == Command::Update ? SessionKind::Update : SessionKind::Reading, message);
  if (next.empty()) return;
  err << next << '\n';
  err.flush();
}

const char* CommandName(Command command) {
  switch (command) {
    case Command::List:
      return "list";
    case Command::Probe:
      return "probe";
    case Command::Check:
      return "check";
    case Command::Update:
      return "update";
    case Command::Verify:
      return "verify";
  }
  return "";
}

void LogHeader(SessionLog& log, const FrontEndOptions& options, const std::string& system) {
  log.Note(std::string("kv5update " KV5_VERSION " (") + PackageDescription() + ")");
  std::string stamps = "package stamps:";
  for (const StampLocation& stamp : StampLocations) {
    stamps += std::string(" ") + stamp.component + " " + stamp.packageStamp;
  }
  log.Note(stamps);
  log.Note(std::string("command: ") + CommandName(options.command));
  log.Note("MIDI system: " + system);
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// One line per region of the package: "SYSTEM: verified", or where the flash first differs.
void PrintVerification(const FlashVerification& verification, std::ostream& out, SessionLog* log) {
  for (size_t i = 0; i < kFlashRegions.size(); ++i) {
    const RegionVerdict& verdict = verification.regions[i];
    std::string line = std::string(kFlashRegions[i].component) + ": ";
    switch (verdict.result) {
      case RegionVerdict::Result::Verified:
        line += "verified";
        break;
      case RegionVerdict::Result::Differs: {
        char address[16];
        std::snprintf(address, sizeof address, "0x%06X", verdict.firstDifference);
        line += std::string("differs from the package at ") + address;
        break;
      }
      case RegionVerdict::Result::NotRead:
        line += "not read";
        break;
    }
    out << line << '\n';
    if (log) log->Note("verify: " + line);
  }
  out.flush();
}

void LogProbe(SessionLog& log, const ProbeResult& probed) {
  for (const ProbeAnswer& unit : probed.answers) {
    log.Note("probe: device code " + FormatDeviceCode(unit.code) + " on IN " + Quoted(unit.inName) +
             " OUT " + Quoted(unit.outName) + (unit.accepted ? "" : " (not accepted)"));
  }
  for (const std::string& name : probed.skippedIn) log.Note("probe: skipped IN " + Quoted(name));
  for (const std::string& name : probed.skippedOut) log.Note("probe: skipped OUT " + Quoted(name));
}

// --probe: the one unit found becomes --in/--out; false (after saying why) unless exactly one.
bool ChooseProbedUnit(FrontEndOptions& options, MidiBackend& midi, SessionLog* log,
                      std::ostream& out, std::ostream& err) {
  const ProbeResult probed = ProbeUnits(midi);
  const std::vector<ProbeAnswer> units = probed.Units();
  if (log != nullptr) LogProbe(*log, probed);
  if (units.size() == 1) {
    options.inDevice = std::to_string(units.front().inIndex);
    options.outDevice = std::to_string(units.front().outIndex);
    return true;
  }
  PrintProbeResult(probed, out);
  err << (units.empty() ? "--probe found no unit" : "--probe found several units")
      << ": nothing was sent to a unit. Pick one with --in and --out.\n";
  return false;
}

Outcome RunProbe(MidiBackend& system, SessionLog* log, ConsoleStreams& streams) {
  const ProbeResult probed = ProbeUnits(system);
  if (log) LogProbe(*log, probed);
  PrintProbeResult(probed, streams.out);
  if (system.Name() == "none") streams.err << "No MIDI system: " << EmptyListReason("none") << '\n';
  const size_t found = probed.Units().size();
  return {found > 0 ? kExitOk : kExitSessionFailed, "probed",
          std::to_string(found) + " unit(s) found"};
}

void LogDevices(SessionLog& log, ConsoleView& view) {
  for (const ListInfo& list : {kInList, kOutList}) {
    const int index = view.GetCurSel(list.id);
    log.Note(std::string(list.name) + " " + std::to_string(index) + " " +
             Quoted(view.GetLBText(list.id, index)));
  }
}

// Prints what the session's end means and what to do next.
Outcome Conclude(Command command, ConsoleWindow& window, bool vanished, ConsoleStreams& streams,
                 SessionLog* log) {
  const SessionReporter& reporter = window.Reporter();
  const FlashVerification& verification = window.Dialog().Verification();
  const Outcome outcome = SessionOutcome(command, reporter, verification);
  if (command == Command::Verify && reporter.Errors().empty()) {
    PrintVerification(verification, streams.out, log);
  }
  if (outcome.code == kExitOk && command != Command::Check) {
    streams.out << outcome.message << '\n';
    streams.out.flush();
  }
  if (outcome.code != kExitOk) {
    // An error box has printed its text already; the front end's own endings print theirs here.
    if (reporter.Errors().empty()) streams.err << outcome.message << '\n';
    // A vanished device explains the failure better than its message does.
    PrintNextStep(command, vanished ? kDeviceVanishedText : outcome.message, streams.err);
  }
  return outcome;
}

// The sessions of the command in the open window: the update and, with --verify after a
// completed one, the verify; or the check; or the verify.
Outcome RunSessions(const FrontEndOptions& options, ConsoleWindow& window, ConsoleStreams& streams,
                    const std::atomic<int>& interrupt, SessionLog* log) {
  using End = ConsoleWindow::SessionEnd;
  Command command = options.command;
  End end = window.Run(command, interrupt);
  if (end == End::Ended && command == Command::Update && options.verify &&
      SessionOutcome(command, window.Reporter(), window.Dialog().Verification()).code == kExitOk) {
    streams.out << LoadString(IDS_UPDATE_COMPLETED) << '\n';
    command = Command::Verify;
    end = window.Run(command, interrupt);
  }
  if (end == End::Interrupted) {
    streams.err << "Interrupted: the session was aborted.\n";
    if (command == Command::Update) PrintNextStep(command, kInterruptedText, streams.err);
    return {kExitSignalBase + interrupt.load(), "interrupted",
            "the session was aborted as closing the window aborts it"};
  }
  if (end == End::NotStarted) {
    const auto& errors = window.Reporter().Errors();
    const std::string message = errors.empty() ? "" : errors.back();
    // A device held by another program has a next step of its own.
    PrintNextStep(command, window.Midi().LastOpenFoundDeviceBusy() ? kDeviceBusyText : message,
                  streams.err);
    return {kExitUsage, "not started", message};
  }
  return Conclude(command, window, window.Dialog().DeviceVanished(), streams, log);
}

// A command of one unit, or of the lists, in the window of the command line.
Outcome RunInWindow(const FrontEndOptions& options, MidiBackend& system, bool inProcessUnit,
                    ConsoleStreams& streams, const std::atomic<int>& interrupt,
                    const SessionTiming& timing, SessionLog* log) {
  ConsoleWindow window(system, streams, log, options.childReport, timing);
  ConsoleView& view = window.View();
  if (options.command == Command::List) {
    PrintLists(view, streams.out);
    if (window.Midi().Name() == "none")
      streams.err << "No MIDI system: " << EmptyListReason("none") << '\n';
    return {kExitOk, "listed", ""};
  }
  if (!ChooseDevices(options, view, window.Midi().Name(), streams.err)) {
    return {kExitUsage, "not started", "no device chosen"};
  }
  if (log) LogDevices(*log, view);
  if (options.command == Command::Update &&
      !AllowTestPackageWrite(options.writeTestPackage, inProcessUnit, streams.err)) {
    return {kExitUsage, "not started", "test package refused for a MIDI device"};
  }
  if (interrupt.load() != 0) {
    return {kExitSignalBase + interrupt.load(), "interrupted", "before the session began"};
  }
  return RunSessions(options, window, streams, interrupt, log);
}

Outcome RunWithLog(FrontEndOptions& options, MidiBackend& system, bool inProcessUnit,
                   ConsoleStreams& streams, const std::atomic<int>& interrupt,
                   const SessionTiming& timing, SessionLog* log) {
  if (options.command == Command::Probe) return RunProbe(system, log, streams);
  if (options.command == Command::Update && options.all) {
    return {UpdateSideBySide(options, system, inProcessUnit, streams, interrupt), "ended", ""};
  }
  if (options.probe && !ChooseProbedUnit(options, system, log, streams.out, streams.err)) {
    return {kExitUsage, "not started", "no single unit found"};
  }
  return RunInWindow(options, system, inProcessUnit, streams, interrupt, timing, log);
}

}  // namespace

int RunFrontEnd(const FrontEndOptions& options, ConsoleStreams& streams,
                const std::atomic<int>& interrupt) {
  std::string reason;
  std::unique_ptr<MidiSetup> midi = MidiSetup::Open(options, &reason);
  if (!midi) {
    streams.err << reason << '\n';
    return kExitUsage;
  }
  return RunCommand(options, midi->Backend(), midi->Unit() != nullptr, streams, interrupt);
}

int RunCommand(const FrontEndOptions& given, MidiBackend& system, bool inProcessUnit,
               ConsoleStreams& streams, const std::atomic<int>& interrupt,
               const SessionTiming& timing) {
  FrontEndOptions options = given;
  // The log outlives the window: the poller may tap traffic until the window has closed, and the
  // outcome is the log's last line.
  std::unique_ptr<SessionLog> log;
  if (options.logPath) {
    std::string reason;
    log = SessionLog::Open(*options.logPath, &reason);
    if (!log) {
      streams.err << reason << '\n';
      return kExitUsage;
    }
    LogHeader(*log, options, system.Name());
  }
  const Outcome outcome =
      RunWithLog(options, system, inProcessUnit, streams, interrupt, timing, log.get());
  if (log) log->Outcome(outcome.result, outcome.message);
  return outcome.code;
}

int Kv5UpdateMain(int argc, const char* const* argv, ConsoleStreams& streams,
                  const std::atomic<int>& interrupt) {
  FrontEndOptions options;
  const ParseOutcome parsed = ParseCommandLine(argc, argv, options, streams.out, streams.err);
  if (!parsed.run) return parsed.exitCode;
  return RunFrontEnd(options, streams, interrupt);
}

}  // namespace kv5
