// Carries the worker's calls onto the user-interface thread. The worker queues a call and waits
// for it; the window drains the queue on its own thread. Once the window closes, the gate drops
// every queued call and wakes every waiting worker, so joining a worker can never deadlock.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kv5 {

class UiCallGate {
 public:
  // Queues a call, asks the user-interface thread to drain (wake runs with no lock held) and
  // returns once the call has run there. Returns false, having run nothing, once the gate is
  // closed.
  bool Call(std::function<void()> call, const std::function<void()>& wake);
  // Queues a call nobody waits for; false once the gate is closed.
  bool Post(std::function<void()> call, const std::function<void()>& wake);
  // On the user-interface thread: runs every queued call, in order.
  void Drain();
  // Drops every queued call and wakes every waiting worker; later calls are dropped at once.
  void Close();
  bool IsClosed() const;

  void WorkerStarted();
  void WorkerFinished();
  bool WorkerActive() const;
  // On the user-interface thread: returns once the worker has finished, running the calls it
  // queues meanwhile (or dropping them once closed).
  void WaitForWorker();

 private:
  struct QueuedCall {
    std::function<void()> run;
    std::shared_ptr<bool> done;  // null for calls nobody waits for
  };
  // Runs the front call with the lock released; the lock is held again on return.
  void RunFront(std::unique_lock<std::mutex>& hold);

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<QueuedCall> calls_;
  bool closed_ = false;
  bool workerActive_ = false;
};

}  // namespace kv5
