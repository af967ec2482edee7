// The Qt application object and the two things start-up asks of it, behind a header free of Qt
// so that the program's main stays toolkit-neutral.
#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"

namespace kv5 {

class QtToolkit {
 public:
  // Qt takes its own options out of argv; the program has none of its own.
  QtToolkit(int& argc, char** argv);
  ~QtToolkit();
  QtToolkit(const QtToolkit&) = delete;
  QtToolkit& operator=(const QtToolkit&) = delete;

  // Runs the updater dialog modally; returns when it has ended.
  int RunUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                       const SessionTiming& timing);
  // A plain message box with the exclamation icon and the application's name as caption.
  void ShowApplicationMessage(const std::string& text);
  // From now on SIGTERM, SIGINT and SIGHUP close the program as the window's close box does.
  void CloseOnTerminationSignals();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv5
