#include "tools/kv5update/FrontEnd.h"

#include <filesystem>
#include <memory>
#include <string>

#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"
#include "tools/kv5update/CommandLine.h"
#include "tools/kv5update/ConsoleView.h"
#include "tools/kv5update/ConsoleWindow.h"
#include "tools/kv5update/DeviceChoice.h"
#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/LogHeader.h"
#include "tools/kv5update/MidiSetup.h"
#include "tools/kv5update/NextSteps.h"
#include "tools/kv5update/Probe.h"
#include "tools/kv5update/RunResults.h"
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

constexpr const char* kNoMidiSystemText =
    "No MIDI system: neither the ALSA sequencer nor a running JACK server was found.";

// Why a device list can be empty, in words for the owner of the unit.
std::string EmptyListReason(const std::string& backend) {
  const std::string system = backend == "alsa"   ? "the ALSA sequencer"
                             : backend == "jack" ? "the JACK server"
                                                 : "the " + backend + " MIDI system";
  return system + " shows no device. Connect the unit, or choose another system with --backend.";
}

// What a run says, and where: results on stdout unless it carries the JSON document; progress,
// warnings and messages on stderr; progress and warnings not at all when quiet.
struct Run {
  const FrontEndOptions& options;
  ConsoleStreams& streams;
  const std::atomic<int>& interrupt;
  SessionLog* log;
  RunRecord record;

  bool TextResults() const { return !options.json; }
  ProgressOutput Progress() const { return {options.talk == Talk::Quiet, options.json}; }
};

struct Outcome {
  int code;
  std::string result;   // for the log and the document: "completed", "failed", ...
  std::string message;  // the session's last word
};

ListedDevices Listed(const ConsoleView& view, int listId) {
  return {view.ListEntries(listId), view.GetCurSel(listId)};
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

Outcome SessionOutcome(Command command, const SessionReporter& reporter,
                       const FlashVerification& verification) {
  if (!reporter.Errors().empty()) return {kExitSessionFailed, "failed", reporter.Errors().back()};
  if (command == Command::Verify) {
    if (verification.AllVerified()) return {kExitOk, "verified", "The flash holds the package."};
    return {kExitSessionFailed, "differs", kFlashDiffersText};
  }
  if (command == Command::Check) {
    if (reporter.ReportShown()) return {kExitOk, "checked", ""};
    // The window shows nothing when a stamp read fails; a script needs to be told.
    return {kExitSessionFailed, "failed", kStampReadFailedText};
  }
  if (reporter.Completed()) return {kExitOk, "completed", LoadString(IDS_UPDATE_COMPLETED)};
  // The one silent ending of an update: the BOOT stamp read before anything is erased.
  return {kExitSessionFailed, "failed", kBootReadFailedText};
}

// The line under a failure's message that says what to do next.
void PrintNextStep(Command command, const std::string& message, Run& run) {
  const std::string next =
      NextStepFor(command == Command::Update ? SessionKind::Update : SessionKind::Reading, message);
  if (next.empty()) return;
  run.record.nextStep = next;
  run.streams.err << next << '\n';
  run.streams.err.flush();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

void LogProbe(SessionLog& log, const ProbeResult& probed) {
  for (const ProbeAnswer& unit : probed.answers) {
    log.Note("probe: device code " + FormatDeviceCode(unit.code) + " on IN " + Quoted(unit.inName) +
             " OUT " + Quoted(unit.outName) + (unit.accepted ? "" : " (not accepted)"));
  }
  for (const std::string& name : probed.skippedIn) log.Note("probe: skipped IN " + Quoted(name));
  for (const std::string& name : probed.skippedOut) log.Note("probe: skipped OUT " + Quoted(name));
}

ProbeResult Probe(MidiBackend& midi, Run& run) {
  const ProbeResult probed = ProbeUnits(midi);
  if (run.log) LogProbe(*run.log, probed);
  run.record.probe = probed;
  return probed;
}

// --probe: the one unit found becomes --in/--out; false (after saying why) unless exactly one.
bool ChooseProbedUnit(FrontEndOptions& options, MidiBackend& midi, Run& run) {
  const ProbeResult probed = Probe(midi, run);
  const std::vector<ProbeAnswer> units = probed.Units();
  if (units.size() == 1) {
    options.inDevice = std::to_string(units.front().inIndex);
    options.outDevice = std::to_string(units.front().outIndex);
    return true;
  }
  if (run.TextResults()) PrintProbeResult(probed, run.streams.out);
  run.streams.err << (units.empty() ? "--probe found no unit" : "--probe found several units")
                  << ": nothing was sent to a unit. Pick one with --in and --out.\n";
  return false;
}

Outcome RunProbe(MidiBackend& system, Run& run) {
  const ProbeResult probed = Probe(system, run);
  if (run.TextResults()) PrintProbeResult(probed, run.streams.out);
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
Outcome Conclude(Command command, ConsoleWindow& window, bool vanished, Run& run) {
  const SessionReporter& reporter = window.Reporter();
  const FlashVerification& verification = window.Dialog().Verification();
  Outcome outcome = SessionOutcome(command, reporter, verification);
  ConsoleStreams& streams = run.streams;
  if (command == Command::Verify && reporter.Errors().empty()) {
    run.record.verification = verification;
    for (const std::string& line : VerificationLines(verification)) {
      if (run.TextResults()) streams.out << line << '\n';
      if (run.log) run.log->Note("verify: " + line);
    }
    streams.out.flush();
  }
  if (command == Command::Check && reporter.ReportShown()) {
    const VersionTable& versions = window.Dialog().Versions();
    run.record.versions = versions;
    if (run.TextResults()) streams.out << VersionTableText(versions);
    if (run.log) run.log->Note("version check:\n" + VersionTableText(versions));
    if (run.options.updateExitCode && UpdateAvailable(versions)) {
      outcome = {kExitUpdateAvailable, "update available", ""};
    }
  }
  if (outcome.code == kExitOk && command != Command::Check && run.TextResults()) {
    streams.out << outcome.message << '\n';
  }
  streams.out.flush();
  if (outcome.code != kExitOk && outcome.code != kExitUpdateAvailable) {
    // An error box has printed its text already; the front end's own endings print theirs here.
    if (reporter.Errors().empty()) streams.err << outcome.message << '\n';
    // A vanished device explains the failure better than its message does.
    PrintNextStep(command, vanished ? kDeviceVanishedText : outcome.message, run);
  }
  return outcome;
}

// The sessions of the command in the open window: the update and, with --verify after a
// completed one, the verify; or the check; or the verify.
Outcome RunSessions(ConsoleWindow& window, Run& run) {
  using End = ConsoleWindow::SessionEnd;
  Command command = run.options.command;
  End end = window.Run(command, run.interrupt);
  if (end == End::Ended && command == Command::Update && run.options.verify &&
      SessionOutcome(command, window.Reporter(), window.Dialog().Verification()).code == kExitOk) {
    if (run.TextResults()) run.streams.out << LoadString(IDS_UPDATE_COMPLETED) << '\n';
    command = Command::Verify;
    end = window.Run(command, run.interrupt);
  }
  if (end == End::Interrupted) {
    run.streams.err << "Interrupted: the session was aborted.\n";
    if (command == Command::Update) PrintNextStep(command, kInterruptedText, run);
    return {kExitSignalBase + run.interrupt.load(), "interrupted",
            "the session was aborted as closing the window aborts it"};
  }
  if (end == End::NotStarted) {
    const auto& errors = window.Reporter().Errors();
    const std::string message = errors.empty() ? "" : errors.back();
    // A device held by another program has a next step of its own.
    PrintNextStep(command, window.Midi().LastOpenFoundDeviceBusy() ? kDeviceBusyText : message,
                  run);
    return {kExitUsage, "not started", message};
  }
  return Conclude(command, window, window.Dialog().DeviceVanished(), run);
}

// A command of one unit, or of the lists, in the window of the command line.
Outcome RunInWindow(MidiBackend& system, bool inProcessUnit, const SessionTiming& timing,
                    Run& run) {
  const FrontEndOptions& options = run.options;
  ConsoleWindow window(system, run.streams, run.log, options.childReport, timing, run.Progress());
  ConsoleView& view = window.View();
  if (options.command == Command::List) {
    run.record.in = Listed(view, IDC_IN_DEVICE_LIST);
    run.record.out = Listed(view, IDC_OUT_DEVICE_LIST);
    if (run.TextResults()) PrintDeviceLists(*run.record.in, *run.record.out, run.streams.out);
    return {kExitOk, "listed", ""};
  }
  const bool chosen = ChooseDevices(options, view, window.Midi().Name(), run.streams.err);
  run.record.in = Listed(view, IDC_IN_DEVICE_LIST);
  run.record.out = Listed(view, IDC_OUT_DEVICE_LIST);
  if (!chosen) return {kExitUsage, "not started", "no device chosen"};
  if (run.log) LogDevices(*run.log, view);
  if (options.command == Command::Update &&
      !AllowTestPackageWrite(options.writeTestPackage, inProcessUnit, options.talk == Talk::Quiet,
                             run.streams.err)) {
    return {kExitUsage, "not started", "test package refused for a MIDI device"};
  }
  if (run.interrupt.load() != 0) {
    return {kExitSignalBase + run.interrupt.load(), "interrupted", "before the session began"};
  }
  return RunSessions(window, run);
}

Outcome RunAll(MidiBackend& system, bool inProcessUnit, Run& run) {
  const int code = UpdateSideBySide(run.options, system, inProcessUnit, run.streams, run.interrupt,
                                    run.Progress(), &run.record.units);
  for (size_t i = 0; i < run.record.units.size() && run.log; ++i) {
    const UnitProgress& unit = run.record.units[i];
    run.log->Note("unit " + std::to_string(i + 1) + " IN " + Quoted(unit.inName) + " OUT " +
                  Quoted(unit.outName) + ": " + unit.Result() +
                  (unit.message.empty() ? "" : ": " + unit.message) +
                  (unit.logPath.empty() ? "" : "; its log: " + unit.logPath));
  }
  const std::string result = code == kExitOk              ? "updated"
                             : code == kExitSessionFailed ? "failed"
                             : code > kExitSignalBase     ? "interrupted"
                                                          : "not started";
  return {code, result, ""};
}

Outcome RunWithLog(FrontEndOptions& options, MidiBackend& system, bool inProcessUnit,
                   const SessionTiming& timing, Run& run) {
  if (system.Name() == "none") {
    // Nothing to list, probe or talk to: the same ending for every command.
    if (options.command == Command::List && run.TextResults()) {
      PrintDeviceLists({}, {}, run.streams.out);
    }
    run.streams.err << kNoMidiSystemText << '\n';
    return {kExitNoMidiSystem, "no MIDI system", kNoMidiSystemText};
  }
  if (options.command == Command::Probe) return RunProbe(system, run);
  if (options.command == Command::Update && options.all) return RunAll(system, inProcessUnit, run);
  if (options.probe && !ChooseProbedUnit(options, system, run)) {
    return {kExitUsage, "not started", "no single unit found"};
  }
  return RunInWindow(system, inProcessUnit, timing, run);
}

// The end of every run past the parser: the log's last line, where the log is after a failure,
// and the JSON document.
int Finish(Run& run, const Outcome& outcome) {
  RunRecord& record = run.record;
  record.exitCode = outcome.code;
  record.result = outcome.result;
  record.message = outcome.message;
  if (run.log) run.log->Outcome(outcome.result, outcome.message);
  const bool failed = outcome.code != kExitOk && outcome.code != kExitUpdateAvailable;
  if (run.options.logPath) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(*run.options.logPath, error);
    record.logPath = error ? *run.options.logPath : path.string();
  }
  // A unit's session under update --all leaves the saying to the run that started it: its last
  // line on stderr is the unit's message in the summary.
  if (failed && record.logPath && !run.options.childReport) {
    run.streams.err << "The log of this run is in " << *record.logPath
                    << (run.options.all ? " (each unit's own in it with .1, .2, ... added)" : "")
                    << ".\n";
  }
  if (run.options.json) {
    run.streams.out << RunDocument(run.options, record) << '\n';
    run.streams.out.flush();
  }
  return outcome.code;
}

// The support log of --log and -v, its header written; false after saying why it cannot be
// opened. *log stays empty when neither option was given.
bool OpenLog(const FrontEndOptions& options, const std::string& system, bool inProcessUnit,
             ConsoleStreams& streams, std::unique_ptr<SessionLog>* log) {
  if (!options.logPath && options.talk != Talk::Verbose) return true;
  std::string reason;
  *log = SessionLog::Open(options.logPath ? &*options.logPath : nullptr,
                          options.talk == Talk::Verbose ? &streams.err : nullptr, &reason);
  if (!*log) {
    streams.err << reason << '\n';
    return false;
  }
  if (inProcessUnit) (*log)->ReadCodesOfVirtualUnit();
  WriteLogHeader(**log, options, system);
  return true;
}

}  // namespace

int RunFrontEnd(const FrontEndOptions& options, ConsoleStreams& streams,
                const std::atomic<int>& interrupt) {
  std::string reason;
  std::unique_ptr<MidiSetup> midi = MidiSetup::Open(options, &reason);
  if (!midi) {
    streams.err << reason << '\n';
    std::unique_ptr<SessionLog> log;
    if (!OpenLog(options, "none", false, streams, &log)) return kExitUsage;
    Run run{options, streams, interrupt, log.get(), {}};
    run.record.midiSystem = "none";
    return Finish(run, {kExitNoMidiSystem, "no MIDI system", reason});
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
  if (!OpenLog(options, system.Name(), inProcessUnit, streams, &log)) return kExitUsage;
  Run run{options, streams, interrupt, log.get(), {}};
  run.record.midiSystem = system.Name();
  const Outcome outcome = RunWithLog(options, system, inProcessUnit, timing, run);
  return Finish(run, outcome);
}

int Kv5UpdateMain(int argc, const char* const* argv, ConsoleStreams& streams,
                  const std::atomic<int>& interrupt) {
  FrontEndOptions options;
  const ParseOutcome parsed = ParseCommandLine(argc, argv, options, streams.out, streams.err);
  if (!parsed.run) return parsed.exitCode;
  return RunFrontEnd(options, streams, interrupt);
}

}  // namespace kv5
