// The events of a timer that runs one thread per event, sleeping to absolute deadlines so that the
// period does not drift with the time the procedure takes. What a thread waits on between ticks
// is the platform's (a TimerSignal); the bookkeeping, the promises of TimerServices about ticks,
// wakes, rests and kills, and the choice of the next deadline are the same everywhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/timer/TimerServices.h"

namespace kv5 {

// What an event's thread sleeps on. Notify cuts the sleep short (a wake or a kill). The thread
// looks at the event's state under the lock before it sleeps, so a notice may be lost while it
// does not sleep, but not one that comes after that look: it must end the sleep that follows.
class TimerSignal {
 public:
  virtual ~TimerSignal() = default;
  // From any thread, with the events' lock held or not.
  virtual void Notify() = 0;
  // On the event's thread, with hold locked; returns with hold locked, at the deadline, after a
  // Notify, or earlier for no reason.
  virtual void WaitUntil(std::unique_lock<std::mutex>& hold,
                         std::chrono::steady_clock::time_point deadline) = 0;
  // On the event's thread before its first sleep.
  virtual void Started() {}
  // On the event's thread once it has run its last tick; the thread ends right after.
  virtual void Ended() {}
};

class TimerEventThreads {
 public:
  static constexpr uint32_t kDelayMin = 1;
  static constexpr uint32_t kDelayMax = 1000000;

  // Makes the signal of a new event, given the resolution asked for it; null refuses the event.
  using MakeSignal = std::function<std::unique_ptr<TimerSignal>(uint32_t resolution)>;

  explicit TimerEventThreads(MakeSignal makeSignal) : makeSignal_(std::move(makeSignal)) {}
  // Ends every event still running.
  ~TimerEventThreads();
  TimerEventThreads(const TimerEventThreads&) = delete;
  TimerEventThreads& operator=(const TimerEventThreads&) = delete;

  // As in TimerServices.
  uint32_t SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure, uintptr_t user,
                    uint32_t flags);
  uint32_t KillEvent(uint32_t id);
  uint32_t WakeEvent(uint32_t id);
  uint32_t RestEvent(uint32_t id, uint32_t restLimit);

 private:
  struct Event {
    uint32_t id = 0;
    std::chrono::milliseconds period{0};
    TimerProc procedure = nullptr;
    uintptr_t user = 0;
    bool periodic = false;
    std::unique_ptr<TimerSignal> signal;
    // Guarded by the lock:
    bool killed = false;
    bool woken = false;                 // a wake came since the last tick started
    std::chrono::milliseconds rest{0};  // asked for by the tick under way; 0: none
    std::thread thread;
  };

  void Run(const std::shared_ptr<Event>& event);
  // Joins the threads of events that ended by themselves or were killed from their own procedure.
  void JoinFinished();

  const MakeSignal makeSignal_;
  std::mutex lock_;
  std::map<uint32_t, std::shared_ptr<Event>> events_;
  std::vector<std::shared_ptr<Event>> finished_;
  uint32_t nextId_ = 1;
};

// Timer services whose events are TimerEventThreads; the platform adds its timer capabilities
// and periods.
class EventThreadTimerServices : public TimerServices {
 public:
  explicit EventThreadTimerServices(TimerEventThreads::MakeSignal makeSignal)
      : events_(std::move(makeSignal)) {}

  uint32_t SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure, uintptr_t user,
                    uint32_t flags) override {
    return events_.SetEvent(delay, resolution, procedure, user, flags);
  }
  uint32_t KillEvent(uint32_t id) override { return events_.KillEvent(id); }
  uint32_t WakeEvent(uint32_t id) override { return events_.WakeEvent(id); }
  uint32_t RestEvent(uint32_t id, uint32_t restLimit) override {
    return events_.RestEvent(id, restLimit);
  }

 private:
  TimerEventThreads events_;
};

}  // namespace kv5
