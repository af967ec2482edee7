// Runs the reply poller on a thread of its own, as the 1 ms timer does, and at once when woken.
// A test may also run a tick on its own thread right after a send (TickNow), so a reply the unit
// queued at once is recorded before the worker waits and no answer depends on scheduling. Ticks
// never overlap.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "protocol/ExchangeState.h"
#include "protocol/ReceivedSysexQueue.h"
#include "protocol/SysexSender.h"

namespace kv5::test {

class PollerThread {
 public:
  PollerThread(ReceivedSysexQueue& queue, ExchangeState& state, SysexSender& sender);
  ~PollerThread();
  PollerThread(const PollerThread&) = delete;
  PollerThread& operator=(const PollerThread&) = delete;

  void Wake();
  // Runs one tick on the calling thread, unless that thread is inside a tick already (a send of
  // the poller's own answer).
  void TickNow();

 private:
  void Run();
  void Tick();

  ReceivedSysexQueue& queue_;
  ExchangeState& state_;
  SysexSender& sender_;
  std::mutex tickLock_;
  std::mutex lock_;
  std::condition_variable woken_;
  bool wake_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kv5::test
