// What the multimedia timer's callback reaches: the owner's procedure behind a gate that knows
// whether a call is under way and whether the event was killed. winmm may still be inside a call
// (or about to make one it dispatched just before) when timeKillEvent returns; the gate lets a
// kill wait for the call under way and keeps every later one from reaching the procedure.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/timer/TimerServices.h"

namespace kv5 {

class TimerEventGate {
 public:
  TimerEventGate(TimerProc procedure, uintptr_t user) : procedure_(procedure), user_(user) {}
  TimerEventGate(const TimerEventGate&) = delete;
  TimerEventGate& operator=(const TimerEventGate&) = delete;

  // One tick: calls the procedure unless the gate is closed.
  void Run(uint32_t id, uint32_t message);
  // No call starts after this. True when the caller is the call under way itself (a procedure
  // that kills its own event), which must then not wait for itself.
  bool Close();
  // Returns once no call is under way.
  void WaitUntilIdle();

 private:
  const TimerProc procedure_;
  const uintptr_t user_;
  std::mutex lock_;
  std::condition_variable idle_;
  bool closed_ = false;
  bool running_ = false;
  std::thread::id runningOn_;
};

}  // namespace kv5
