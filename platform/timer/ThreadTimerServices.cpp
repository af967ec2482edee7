// The periodic timer on a platform without the multimedia timer: one thread per event (the
// events' bookkeeping and deadlines are TimerEventThreads'), sleeping on a condition variable. A
// wake cuts the sleep short; a tick that rests lets the thread sleep up to its rest limit.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "platform/timer/TimerEventThreads.h"
#include "platform/timer/TimerServices.h"

namespace kv5 {
namespace {

class ConditionSignal : public TimerSignal {
 public:
  static std::unique_ptr<TimerSignal> Make(uint32_t /*resolution*/) {
    return std::make_unique<ConditionSignal>();
  }

  void Notify() override { wake_.notify_all(); }

  void WaitUntil(std::unique_lock<std::mutex>& hold,
                 std::chrono::steady_clock::time_point deadline) override {
    wake_.wait_until(hold, deadline);
  }

  void Started() override {
#if defined(__linux__)
    pthread_setname_np(pthread_self(), "kv5-timer");
#endif
  }

 private:
  std::condition_variable wake_;
};

class ThreadTimerServices : public EventThreadTimerServices {
 public:
  ThreadTimerServices() : EventThreadTimerServices(&ConditionSignal::Make) {}

  uint32_t GetDevCaps(TimeCaps* caps) override {
    if (caps == nullptr) return TIMERR_NOCANDO;
    caps->wPeriodMin = TimerEventThreads::kDelayMin;
    caps->wPeriodMax = TimerEventThreads::kDelayMax;
    return TIMERR_NOERROR;
  }

  // Sleeps to absolute deadlines are as fine as the system allows already; a period request only
  // has to be valid.
  uint32_t BeginPeriod(uint32_t period) override { return ValidPeriod(period); }
  uint32_t EndPeriod(uint32_t period) override { return ValidPeriod(period); }

 private:
  static uint32_t ValidPeriod(uint32_t period) {
    return period >= TimerEventThreads::kDelayMin && period <= TimerEventThreads::kDelayMax
               ? TIMERR_NOERROR
               : TIMERR_NOCANDO;
  }
};

}  // namespace

std::unique_ptr<TimerServices> MakeSystemTimerServices() {
  return std::make_unique<ThreadTimerServices>();
}

}  // namespace kv5
