#include "tools/kv5update/FrontEnd.h"

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

int SessionOutcome(const FrontEndOptions& options, const SessionReporter& reporter,
                   std::ostream& out, std::ostream& err) {
  if (!reporter.Errors().empty()) return kExitSessionFailed;
  if (options.command == Command::Check) {
    if (reporter.ReportShown()) return kExitOk;
    // The window shows nothing when a stamp read fails; a script needs to be told.
    err << "The version check failed: the unit did not answer a memory read.\n";
    return kExitSessionFailed;
  }
  if (reporter.Completed()) {
    out << LoadString(IDS_UPDATE_COMPLETED) << '\n';
    out.flush();
    return kExitOk;
  }
  // The one silent ending of an update: the BOOT stamp read before anything is erased.
  err << "The update ended: the unit did not answer the BOOT stamp read. Nothing was erased.\n";
  return kExitSessionFailed;
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

int RunCommand(const FrontEndOptions& options, MidiBackend& system, bool inProcessUnit,
               ConsoleStreams& streams, const std::atomic<int>& interrupt) {
  std::unique_ptr<TimerServices> timer = MakeSystemTimerServices();
  SessionReporter reporter(streams);
  ConsoleView view(reporter);
  BusyDeviceWatch midi(system);
  CKv5UpdatorDlg dialog(view, midi, *timer, kInstanceIndex);
  dialog.OnInitDialog();

  if (options.command == Command::List) {
    PrintLists(view, streams.out);
    if (midi.Name() == "none") streams.err << "No MIDI system: " << EmptyListReason("none") << '\n';
    CloseWindow(dialog, view);
    return kExitOk;
  }
  if (!ChooseDevices(options, view, midi.Name(), streams.err)) {
    CloseWindow(dialog, view);
    return kExitUsage;
  }
  if (options.command == Command::Update && IsTestPackage()) {
    streams.err << "Warning: this build carries the synthetic test package; it is not firmware "
                   "for a real unit.\n";
    if (!inProcessUnit && !options.writeTestPackage) {
      streams.err << "Refusing to write it to a MIDI device without --yes-write-test-package.\n";
      CloseWindow(dialog, view);
      return kExitUsage;
    }
  }
  if (interrupt.load() != 0) {
    CloseWindow(dialog, view);
    return kExitSignalBase + interrupt.load();
  }

  if (options.command == Command::Update) {
    dialog.OnExecute();
  } else {
    dialog.OnVersionCheck();
  }
  if (!dialog.Busy() && !dialog.WorkerRunning()) {
    // The ports did not open (the error box said which); nothing was sent.
    if (midi.LastOpenFoundDeviceBusy())
      streams.err << "Another program may be using the device: close it, or disconnect it from "
                     "the unit's port, and try again.\n";
    CloseWindow(dialog, view);
    return kExitUsage;
  }

  view.RunUntil([&] { return interrupt.load() != 0 || !dialog.WorkerRunning(); });
  if (interrupt.load() != 0) {
    reporter.Finish();
    streams.err << "Interrupted: the session was aborted.\n";
    CloseWindow(dialog, view);
    return kExitSignalBase + interrupt.load();
  }
  // What the ending worker posted (the version check's result) runs before the window closes.
  view.RunPending();
  reporter.Finish();
  if (dialog.DeviceVanished()) {
    streams.err << "The MIDI device disappeared during the session: its cable was pulled, or the "
                   "unit's program or the MIDI system stopped.\n";
  }
  CloseWindow(dialog, view);
  return SessionOutcome(options, reporter, streams.out, streams.err);
}

int Kv5UpdateMain(int argc, const char* const* argv, ConsoleStreams& streams,
                  const std::atomic<int>& interrupt) {
  FrontEndOptions options;
  const ParseOutcome parsed = ParseCommandLine(argc, argv, options, streams.out, streams.err);
  if (!parsed.run) return parsed.exitCode;
  return RunFrontEnd(options, streams, interrupt);
}

}  // namespace kv5
