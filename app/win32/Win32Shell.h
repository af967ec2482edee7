// Start-up's view of Windows: the common control classes, the modal updater dialog and the plain
// application message box. Free of windows.h, so the program's main stays toolkit-neutral.
#pragma once

#include <string>

#include "app/CKv5UpdatorApp.h"

namespace kv5 {

class Win32Shell : public AppShell {
 public:
  // Registers the common control classes the dialog needs (the progress bar among them).
  Win32Shell();

  void RunUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                        const SessionTiming& timing) override;
  // Exclamation icon, OK, and the application's name as caption.
  void ShowApplicationMessage(const std::string& text) override;
};

// The executable's file name without folder and extension ("kv5updater").
std::string ApplicationName();

}  // namespace kv5
