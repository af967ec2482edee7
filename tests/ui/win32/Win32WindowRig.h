// The real Win32 updater dialog in the test process: run modally on the test's thread while a
// DialogDriver works it from a second thread.
#pragma once

#include <functional>
#include <memory>

#include "DialogDriver.h"
#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"
#include "ui/DialogRig.h"
#include "ui/win32/Win32UpdaterDialog.h"

namespace kv5 {

struct Win32WindowRig {
  // guard: whether the window guards the test package; without it, it is the window of a
  // release build.
  explicit Win32WindowRig(MidiBackend& midi, int instance = 1,
                          const SessionTiming& timing = FastTiming(), bool guard = false)
      : timer(MakeSystemTimerServices()), dialog(midi, *timer, instance, timing) {
    dialog.Logic().GuardTestPackage(guard);
  }

  // Runs the dialog until the body has finished with it; the body's last act, or else the
  // driver's, is to press Exit. Returns DoModal's result.
  INT_PTR Run(std::function<void(DialogDriver&)> body) {
    DriverThread driver([this] { return dialog.Window(); },
                        [body = std::move(body)](DialogDriver& driver) {
                          body(driver);
                          if (IsWindow(driver.Dialog())) driver.Click(IDCANCEL);
                        });
    return dialog.DoModal();
  }

  std::unique_ptr<TimerServices> timer;
  Win32UpdaterDialog dialog;
};

// A rectangle in dialog units, in client pixels of the dialog. Position and size are mapped
// each on its own, as the dialog manager does when it makes the controls.
inline RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
  RECT mapped{x, y, width, height};
  MapDialogRect(dialog, &mapped);
  return RECT{mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
}

// A control's rectangle in the client pixels of its dialog.
inline RECT ClientRectOf(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

inline bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace kv5
