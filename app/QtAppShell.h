// Start-up's view of the Qt toolkit: runs the updater dialog and shows the application's message
// box through QtToolkit, whose header carries no Qt.
#pragma once

#include <string>

#include "app/CKv5UpdatorApp.h"
#include "ui/qt/QtToolkit.h"

namespace kv5 {

class QtAppShell : public AppShell {
 public:
  explicit QtAppShell(QtToolkit& toolkit) : toolkit_(toolkit) {}
  void RunUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                        const SessionTiming& timing) override {
    toolkit_.RunUpdaterDialog(midi, timer, instanceIndex, timing);
  }
  void ShowApplicationMessage(const std::string& text) override {
    toolkit_.ShowApplicationMessage(text);
  }

 private:
  QtToolkit& toolkit_;
};

}  // namespace kv5
