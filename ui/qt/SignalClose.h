// Closing the program when it is asked to stop from outside: SIGTERM (the desktop session ending,
// a package manager, kill), SIGINT (Ctrl-C in the terminal that started it) and SIGHUP (that
// terminal going away) end it as its close box does, instead of killing it where it stands.
#pragma once

#include <signal.h>

#include <QSocketNotifier>
#include <memory>

namespace kv5 {

class SignalClose {
 public:
  // Takes over the three signals until destroyed, but for one that the program was started
  // with ignored (as a shell starts a background job with SIGINT); one instance at a time,
  // inside a Qt application.
  SignalClose();
  ~SignalClose();
  SignalClose(const SignalClose&) = delete;
  SignalClose& operator=(const SignalClose&) = delete;

 private:
  void OnSignalled();

  int pipe_[2] = {-1, -1};
  struct sigaction previous_[3] = {};
  std::unique_ptr<QSocketNotifier> notifier_;  // watches pipe_[0]
};

}  // namespace kv5
