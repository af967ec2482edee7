// The updater without a window, for benchmarks: the dialog logic on the command line's console
// view (whose thread is the benchmark's own, so feedback calls run inline), the system timer
// running the reply poller every millisecond, and a loopback MIDI system whose device 0 the
// benchmark connects to a virtual unit or an echo.
#pragma once

#include <memory>

#include "platform/midi/loopback/LoopbackMidi.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"
#include "tools/kv5update/ConsoleView.h"
#include "ui/CKv5UpdatorDlg.h"

namespace kv5::bench {

class HeadlessUpdater {
 public:
  // The dialog is initialised (lists filled, device 0 preselected, poller running).
  explicit HeadlessUpdater(LoopbackMidi& midi, const SessionTiming& timing = kProductionTiming);
  // Closes the window: OnDestroy, then the dialog goes.
  ~HeadlessUpdater();
  HeadlessUpdater(const HeadlessUpdater&) = delete;
  HeadlessUpdater& operator=(const HeadlessUpdater&) = delete;

  CKv5UpdatorDlg& Dialog() { return *dialog_; }

  // Execute, then serves the worker until the session has ended; true when it completed.
  bool RunUpdate();
  // Opens both ports and enters the busy state, as Execute does before it starts the worker, so
  // a benchmark can run the session's steps on its own thread. False when a port did not open.
  bool PrepareSteps();
  // Identifies the unit and switches it into update mode, as the session's first steps do.
  bool EnterUpdateMode();

 private:
  class Silent : public ViewObserver {
    void OnControlText(int, const std::string&) override {}
    void OnProgressRange(int32_t, int32_t) override {}
    void OnProgressPos(int32_t) override {}
    void OnMessageBox(const std::string&, const std::string&, MessageIcon) override {}
  };

  Silent observer_;
  ConsoleView view_;
  std::unique_ptr<TimerServices> timer_;
  std::unique_ptr<CKv5UpdatorDlg> dialog_;
};

}  // namespace kv5::bench
