#include "tools/kv5update/ConsoleWindow.h"

#include "tools/kv5update/SessionLog.h"

namespace kv5 {
namespace {

// The command line runs as the first instance: its preselection is the window's for slot 1.
constexpr int kInstanceIndex = 1;

}  // namespace

ConsoleWindow::ConsoleWindow(MidiBackend& system, ConsoleStreams& streams, SessionLog* log,
                             bool reportAsLines, const SessionTiming& timing,
                             ProgressOutput progress)
    : timer_(MakeSystemTimerServices()),
      reporter_(streams, progress),
      view_(reporter_),
      midi_(system),
      dialog_(view_, midi_, *timer_, kInstanceIndex, timing) {
  reporter_.SetLog(log);
  if (reportAsLines) reporter_.ReportAsLines();
  // The command line guards the test package itself (--yes-write-test-package).
  dialog_.GuardTestPackage(false);
  dialog_.SetTrafficTap(log);
  dialog_.OnInitDialog();
}

ConsoleWindow::~ConsoleWindow() {
  dialog_.OnDestroy();
  view_.Close();
}

ConsoleWindow::SessionEnd ConsoleWindow::Run(Command command, const std::atomic<int>& interrupt) {
  if (command == Command::Update) {
    dialog_.OnExecute();
  } else if (command == Command::Verify) {
    dialog_.OnVerify();
  } else {
    dialog_.OnVersionCheck();
  }
  if (!dialog_.Busy() && !dialog_.WorkerRunning()) return SessionEnd::NotStarted;
  view_.RunUntil([&] { return interrupt.load() != 0 || !dialog_.WorkerRunning(); });
  const bool interrupted = interrupt.load() != 0;
  // What the ending worker posted (the version check's result) runs before the window closes.
  if (!interrupted) view_.RunPending();
  reporter_.Finish();
  return interrupted ? SessionEnd::Interrupted : SessionEnd::Ended;
}

}  // namespace kv5
