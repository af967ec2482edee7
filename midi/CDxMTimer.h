// A periodic timer at the platform's finest resolution; its procedure runs on the timer's own
// thread, one tick at a time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/timer/TimerServices.h"

namespace kv5 {

class CDxMTimer {
 public:
  explicit CDxMTimer(TimerServices& services);
  ~CDxMTimer();
  CDxMTimer(const CDxMTimer&) = delete;
  CDxMTimer& operator=(const CDxMTimer&) = delete;

  // The id of the new periodic event, 0 when none was created. Without a procedure every tick
  // calls OnTick of this timer.
  uint32_t Start(uint32_t delayMs, TimerProc procedure, uintptr_t user);
  // Always 1. Returns only when no tick is running or can still start (called from inside a
  // tick: when none can start). A class that overrides OnTick stops the timer in its own
  // destructor, since ticks must not reach a half-destroyed object.
  int Stop();
  virtual void OnTick() {}

  // An early tick, from any thread (the input side, when it has queued a message): the next tick
  // starts now, or as soon as the one under way has ended. Nothing while the timer is idle.
  void Wake();
  // From inside a tick that found nothing to do: the next tick comes with a wake, or restLimitMs
  // after this one at the latest, instead of after the period.
  void Rest(uint32_t restLimitMs);

  uint32_t TimerId() const { return timerId_.load(); }

 private:
  static void DefaultTimerProc(uint32_t id, uint32_t message, uintptr_t user, uintptr_t r1,
                               uintptr_t r2);

  TimerServices& services_;
  // Written by the owner's thread, read by wakes from others.
  std::atomic<uint32_t> timerId_{0};
  TimeCaps Caps;
};

}  // namespace kv5
