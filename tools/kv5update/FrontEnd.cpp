#include "tools/kv5update/FrontEnd.h"

#include <cstdio>
#include <memory>
#include <string>

#include "firmware/FirmwarePackage.h"
#include "platform/timer/TimerServices.h"
#include "session/StringTable.h"
#include "tools/kv5update/BusyDeviceWatch.h"
#include "tools/kv5update/CommandLine.h"
#include "tools/kv5update/ConsoleView.h"
#include "tools/kv5update/DeviceChoice.h"
#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/MidiSetup.h"
#include "tools/kv5update/NextSteps.h"
#include "tools/kv5update/Probe.h"
#include "tools/kv5update/SessionLog.h"
#include "tools/kv5update/UnitsSideBySide.h"
#include "ui/CKv5UpdatorDlg.h"

namespace kv5 {
namespace {

// The command line runs as the first instance: its preselection is the window's for slot 1.
constexpr int kInstanceIndex = 1;

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

// The window is closed: ports closed, any session aborted, the worker joined.
void CloseWindow(CKv5UpdatorDlg& dialog, ConsoleView& view) {
  dialog.OnDestroy();
  view.Close();
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
  // The log outlives the dialog: the poller may tap traffic until the dialog stops its timer.
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
  auto finish = [&](int code, const std::string& result, const std::string& message) {
    if (log) log->Outcome(result, message);
    return code;
  };

  if (options.command == Command::Probe) {
    const ProbeResult probed = ProbeUnits(system);
    if (log) LogProbe(*log, probed);
    PrintProbeResult(probed, streams.out);
    if (system.Name() == "none")
      streams.err << "No MIDI system: " << EmptyListReason("none") << '\n';
    const size_t found = probed.Units().size();
    return finish(found > 0 ? kExitOk : kExitSessionFailed, "probed",
                  std::to_string(found) + " unit(s) found");
  }
  if (options.command == Command::Update && options.all) {
    return finish(UpdateSideBySide(options, system, inProcessUnit, streams, interrupt), "ended",
                  "");
  }
  if (options.probe && !ChooseProbedUnit(options, system, log.get(), streams.out, streams.err)) {
    return finish(kExitUsage, "not started", "no single unit found");
  }

  std::unique_ptr<TimerServices> timer = MakeSystemTimerServices();
  SessionReporter reporter(streams);
  reporter.SetLog(log.get());
  if (options.childReport) reporter.ReportAsLines();
  ConsoleView view(reporter);
  BusyDeviceWatch midi(system);
  CKv5UpdatorDlg dialog(view, midi, *timer, kInstanceIndex, timing);
  // The command line guards the test package itself (--yes-write-test-package, below).
  dialog.GuardTestPackage(false);
  dialog.SetTrafficTap(log.get());
  dialog.OnInitDialog();

  if (options.command == Command::List) {
    PrintLists(view, streams.out);
    if (midi.Name() == "none") streams.err << "No MIDI system: " << EmptyListReason("none") << '\n';
    CloseWindow(dialog, view);
    return finish(kExitOk, "listed", "");
  }
  if (!ChooseDevices(options, view, midi.Name(), streams.err)) {
    CloseWindow(dialog, view);
    return finish(kExitUsage, "not started", "no device chosen");
  }
  if (log) {
    for (const ListInfo& list : {kInList, kOutList}) {
      const int index = view.GetCurSel(list.id);
      log->Note(std::string(list.name) + " " + std::to_string(index) + " " +
                Quoted(view.GetLBText(list.id, index)));
    }
  }
  if (options.command == Command::Update && IsTestPackage()) {
    streams.err << "Warning: this build carries the synthetic test package; it is not firmware "
                   "for a real unit.\n";
    if (!inProcessUnit && !options.writeTestPackage) {
      streams.err << "Refusing to write it to a MIDI device without --yes-write-test-package.\n";
      CloseWindow(dialog, view);
      return finish(kExitUsage, "not started", "test package refused for a MIDI device");
    }
  }
  if (interrupt.load() != 0) {
    CloseWindow(dialog, view);
    return finish(kExitSignalBase + interrupt.load(), "interrupted", "before the session began");
  }

  // Starts a session as its button would and waits for its end; false when the ports did not
  // open (the error box said which) and nothing was sent, or on an interrupt.
  bool interrupted = false;
  auto runSession = [&](Command command) {
    if (command == Command::Update) {
      dialog.OnExecute();
    } else if (command == Command::Verify) {
      dialog.OnVerify();
    } else {
      dialog.OnVersionCheck();
    }
    if (!dialog.Busy() && !dialog.WorkerRunning()) return false;
    view.RunUntil([&] { return interrupt.load() != 0 || !dialog.WorkerRunning(); });
    interrupted = interrupt.load() != 0;
    // What the ending worker posted (the version check's result) runs before the window closes.
    if (!interrupted) view.RunPending();
    reporter.Finish();
    return !interrupted;
  };

  Command command = options.command;
  bool ran = runSession(command);
  if (ran && command == Command::Update && options.verify &&
      SessionOutcome(command, reporter, dialog.Verification()).code == kExitOk) {
    streams.out << LoadString(IDS_UPDATE_COMPLETED) << '\n';
    command = Command::Verify;
    ran = runSession(command);
  }
  if (interrupted) {
    streams.err << "Interrupted: the session was aborted.\n";
    if (command == Command::Update) PrintNextStep(command, kInterruptedText, streams.err);
    CloseWindow(dialog, view);
    return finish(kExitSignalBase + interrupt.load(), "interrupted",
                  "the session was aborted as closing the window aborts it");
  }
  if (!ran) {
    CloseWindow(dialog, view);
    const std::string message = reporter.Errors().empty() ? "" : reporter.Errors().back();
    // A device held by another program has a next step of its own.
    PrintNextStep(command, midi.LastOpenFoundDeviceBusy() ? kDeviceBusyText : message, streams.err);
    return finish(kExitUsage, "not started", message);
  }
  const bool vanished = dialog.DeviceVanished();
  CloseWindow(dialog, view);
  const Outcome outcome = SessionOutcome(command, reporter, dialog.Verification());
  if (command == Command::Verify && reporter.Errors().empty()) {
    PrintVerification(dialog.Verification(), streams.out, log.get());
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
  return finish(outcome.code, outcome.result, outcome.message);
}

int Kv5UpdateMain(int argc, const char* const* argv, ConsoleStreams& streams,
                  const std::atomic<int>& interrupt) {
  FrontEndOptions options;
  const ParseOutcome parsed = ParseCommandLine(argc, argv, options, streams.out, streams.err);
  if (!parsed.run) return parsed.exitCode;
  return RunFrontEnd(options, streams, interrupt);
}

}  // namespace kv5
