// The updater dialog on Qt: its window and its logic, built together and torn down in order (the
// logic, with its worker and timer, goes before the window it draws on).
#pragma once

#include <cstdint>

#include "midi/MidiOutPort.h"
#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"
#include "ui/CKv5UpdatorDlg.h"
#include "ui/qt/QtUpdaterWindow.h"

namespace kv5 {

class QtUpdaterDialog {
 public:
  QtUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                  const SessionTiming& timing = kProductionTiming,
                  uint32_t completionLimitMs = MidiOutPort::kDefaultCompletionLimitMs);
  ~QtUpdaterDialog();
  QtUpdaterDialog(const QtUpdaterDialog&) = delete;
  QtUpdaterDialog& operator=(const QtUpdaterDialog&) = delete;

  // Initialises the dialog and runs it modally; when it returns the dialog has ended and its
  // OnDestroy has run.
  int DoModal();
  // Initialises the dialog and shows it without a modal loop of its own (tests, screenshots).
  void Show();

  QtUpdaterWindow& Window() { return window_; }
  CKv5UpdatorDlg& Logic() { return logic_; }

 private:
  void Initialise();

  QtUpdaterWindow window_;
  CKv5UpdatorDlg logic_;
  bool initialised_ = false;
};

}  // namespace kv5
