#include "platform/midi/alsa/InterruptibleCall.h"

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kv5 {
namespace {

void Ignore(int) {}

// A handler that does nothing: a kernel wait that a signal may end ends, nothing else happens.
// SIGURG's own default is to ignore it, and an ignored signal would not end the wait.
void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGURG, nullptr, &current) != 0) return;
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler != SIG_DFL &&
        current.sa_handler != SIG_IGN)
      return;  // the program handles it itself; its handler ends the wait as well
    struct sigaction wake {};
    wake.sa_handler = &Ignore;
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = SA_RESTART;
    sigaction(SIGURG, &wake, nullptr);
  });
}

}  // namespace

void RunInterruptibly(const std::function<void()>& call, std::chrono::milliseconds interval) {
  InstallWakeHandler();
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::thread worker([&] {
    call();
    std::lock_guard<std::mutex> hold(lock);
    done = true;
    finished.notify_all();
  });
  {
    // A signal that comes before the call reaches its wait is spent on the way; so it comes again
    // until the call has returned.
    std::unique_lock<std::mutex> hold(lock);
    while (!finished.wait_for(hold, interval, [&] { return done; }))
      pthread_kill(worker.native_handle(), SIGURG);
  }
  worker.join();
}

}  // namespace kv5
