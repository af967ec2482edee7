// The updater dialog on Win32: the window from template 103 and the dialog logic, built together
// and torn down in order (the logic, with its worker and timer, goes before the view it draws on).
#pragma once

#include <cstdint>

#include "midi/MidiOutPort.h"
#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"
#include "ui/CKv5UpdatorDlg.h"
#include "ui/win32/Win32DialogView.h"

namespace kv5 {

class Win32UpdaterDialog {
 public:
  Win32UpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                     const SessionTiming& timing = kProductionTiming,
                     uint32_t completionLimitMs = MidiOutPort::kDefaultCompletionLimitMs);
  ~Win32UpdaterDialog();
  Win32UpdaterDialog(const Win32UpdaterDialog&) = delete;
  Win32UpdaterDialog& operator=(const Win32UpdaterDialog&) = delete;

  // Runs the dialog modally without a parent window; when it returns the window is gone and
  // OnDestroy has run. The result is the command that ended it (IDCANCEL), or -1 when the window
  // could not be made.
  INT_PTR DoModal();

  // The window while the dialog runs, else nullptr.
  HWND Window() const { return view_.Window(); }
  CKv5UpdatorDlg& Logic() { return logic_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(HWND window, int id, int notification);
  bool OnPaint(HWND window);

  Win32DialogView view_;
  HICON appIcon_;
  CKv5UpdatorDlg logic_;
};

}  // namespace kv5
