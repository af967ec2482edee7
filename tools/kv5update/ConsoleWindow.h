// The updater window as the command line has it: the dialog's own logic over a console view,
// reporting on the console (and to the support log), on a MIDI system that marks a device another
// program holds. Closing it (ports closed, any session aborted, the worker joined) is its
// destructor's work, so every way out of a command closes it once.
#pragma once

#include <atomic>

#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"
#include "tools/kv5update/BusyDeviceWatch.h"
#include "tools/kv5update/ConsoleView.h"
#include "tools/kv5update/FrontEndOptions.h"
#include "tools/kv5update/SessionReporter.h"
#include "ui/CKv5UpdatorDlg.h"

namespace kv5 {

class SessionLog;

class ConsoleWindow {
 public:
  // The window opened (OnInitDialog): its lists filled and preselected, its poller running.
  ConsoleWindow(MidiBackend& system, ConsoleStreams& streams, SessionLog* log, bool reportAsLines,
                const SessionTiming& timing, ProgressOutput progress = {});
  ~ConsoleWindow();
  ConsoleWindow(const ConsoleWindow&) = delete;
  ConsoleWindow& operator=(const ConsoleWindow&) = delete;

  enum class SessionEnd {
    Ended,        // the session ran to its end, whatever its outcome
    NotStarted,   // the ports did not open (the error box said which); nothing was sent
    Interrupted,  // a signal came: the session was aborted as closing the window aborts it
  };
  // Starts the session of a command as its button does and waits for its end.
  SessionEnd Run(Command command, const std::atomic<int>& interrupt);

  ConsoleView& View() { return view_; }
  CKv5UpdatorDlg& Dialog() { return dialog_; }
  const SessionReporter& Reporter() const { return reporter_; }
  const BusyDeviceWatch& Midi() const { return midi_; }

 private:
  std::unique_ptr<TimerServices> timer_;
  SessionReporter reporter_;
  ConsoleView view_;
  BusyDeviceWatch midi_;
  CKv5UpdatorDlg dialog_;
};

}  // namespace kv5
