// The periodic timer on a platform without the multimedia timer: one thread per event, sleeping
// to absolute deadlines so that the period does not drift with the time the procedure takes. A
// wake cuts the sleep short; a tick that rests lets the thread sleep up to its rest limit.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "platform/timer/TimerServices.h"

namespace kv5 {
namespace {

constexpr uint32_t kPeriodMin = 1;
constexpr uint32_t kPeriodMax = 1000000;

class ThreadTimerServices : public TimerServices {
 public:
  ~ThreadTimerServices() override;

  uint32_t GetDevCaps(TimeCaps* caps) override;
  uint32_t BeginPeriod(uint32_t period) override;
  uint32_t EndPeriod(uint32_t period) override;
  uint32_t SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure, uintptr_t user,
                    uint32_t flags) override;
  uint32_t KillEvent(uint32_t id) override;
  uint32_t WakeEvent(uint32_t id) override;
  uint32_t RestEvent(uint32_t id, uint32_t restLimit) override;

 private:
  struct Event {
    uint32_t id = 0;
    std::chrono::milliseconds period{0};
    TimerProc procedure = nullptr;
    uintptr_t user = 0;
    bool periodic = false;
    bool killed = false;
    bool woken = false;                 // a wake came since the last tick started
    std::chrono::milliseconds rest{0};  // asked for by the tick under way; 0: none
    std::condition_variable wake;
    std::thread thread;
  };

  void Run(const std::shared_ptr<Event>& event);
  // Joins the threads of events that ended by themselves or were killed from their own procedure.
  void JoinFinished();

  std::mutex lock_;
  std::map<uint32_t, std::shared_ptr<Event>> events_;
  std::vector<std::shared_ptr<Event>> finished_;
  uint32_t nextId_ = 1;
};

ThreadTimerServices::~ThreadTimerServices() {
  std::vector<uint32_t> ids;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& entry : events_) ids.push_back(entry.first);
  }
  for (uint32_t id : ids) KillEvent(id);
  JoinFinished();
  // Left only when the services are destroyed from inside a procedure.
  for (auto& event : finished_) event->thread.detach();
}

uint32_t ThreadTimerServices::GetDevCaps(TimeCaps* caps) {
  if (caps == nullptr) return TIMERR_NOCANDO;
  caps->wPeriodMin = kPeriodMin;
  caps->wPeriodMax = kPeriodMax;
  return TIMERR_NOERROR;
}

// Sleeps to absolute deadlines are as fine as the system allows already; a period request only
// has to be valid.
uint32_t ThreadTimerServices::BeginPeriod(uint32_t period) {
  return period >= kPeriodMin && period <= kPeriodMax ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

uint32_t ThreadTimerServices::EndPeriod(uint32_t period) {
  return period >= kPeriodMin && period <= kPeriodMax ? TIMERR_NOERROR : TIMERR_NOCANDO;
}

uint32_t ThreadTimerServices::SetEvent(uint32_t delay, uint32_t /*resolution*/, TimerProc procedure,
                                       uintptr_t user, uint32_t flags) {
  if (procedure == nullptr || delay < kPeriodMin || delay > kPeriodMax) return 0;
  JoinFinished();
  auto event = std::make_shared<Event>();
  event->period = std::chrono::milliseconds(delay);
  event->procedure = procedure;
  event->user = user;
  event->periodic = (flags & TIME_PERIODIC) != 0;
  // The thread starts by taking the lock, so it sees the event complete, its own std::thread
  // object included.
  std::lock_guard<std::mutex> hold(lock_);
  do {
    event->id = nextId_++;
  } while (event->id == 0 || events_.count(event->id) != 0);
  event->thread = std::thread([this, event] { Run(event); });
  events_[event->id] = event;
  return event->id;
}

uint32_t ThreadTimerServices::KillEvent(uint32_t id) {
  std::shared_ptr<Event> event;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = events_.find(id);
    if (found == events_.end()) return TIMERR_NOCANDO;
    event = found->second;
    events_.erase(found);
    event->killed = true;
    event->wake.notify_all();
    if (event->thread.get_id() == std::this_thread::get_id()) {
      // Called from its own procedure: no further call starts, and the thread is joined later.
      finished_.push_back(event);
      return TIMERR_NOERROR;
    }
  }
  event->thread.join();
  return TIMERR_NOERROR;
}

uint32_t ThreadTimerServices::WakeEvent(uint32_t id) {
  std::shared_ptr<Event> event;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = events_.find(id);
    if (found == events_.end()) return TIMERR_NOCANDO;
    if (found->second->woken) return TIMERR_NOERROR;
    found->second->woken = true;
    event = found->second;
  }
  // Notified with the lock released, so the timer thread does not wake only to wait for it.
  event->wake.notify_all();
  return TIMERR_NOERROR;
}

uint32_t ThreadTimerServices::RestEvent(uint32_t id, uint32_t restLimit) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = events_.find(id);
  if (found == events_.end() || restLimit < kPeriodMin || restLimit > kPeriodMax) {
    return TIMERR_NOCANDO;
  }
  found->second->rest = std::chrono::milliseconds(restLimit);
  return TIMERR_NOERROR;
}

void ThreadTimerServices::Run(const std::shared_ptr<Event>& event) {
#if defined(__linux__)
  pthread_setname_np(pthread_self(), "kv5-timer");
#endif
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> hold(lock_);
  auto deadline = Clock::now() + event->period;
  for (;;) {
    event->wake.wait_until(hold, deadline, [&] { return event->killed || event->woken; });
    if (event->killed) return;
    const Clock::time_point started = Clock::now();
    const bool early = started < deadline;
    // A wake from here on asks for another tick: the one starting now may miss what it saw.
    event->woken = false;
    event->rest = std::chrono::milliseconds(0);
    hold.unlock();
    event->procedure(event->id, 0, event->user, 0, 0);
    hold.lock();
    if (event->killed) return;
    if (!event->periodic) {
      event->killed = true;
      events_.erase(event->id);
      finished_.push_back(event);
      return;
    }
    const Clock::time_point now = Clock::now();
    if (event->rest.count() != 0) {
      deadline = now + event->rest;
    } else if (early) {
      // An early tick keeps the period's grid, but never lets the next tick wait longer than a
      // period (the deadline may be that of a rest).
      if (deadline > started + event->period) deadline = started + event->period;
    } else {
      // A tick that overran its period delays the next one; missed ticks are not made up in a
      // burst.
      deadline += event->period;
      if (deadline < now) deadline = now;
    }
  }
}

void ThreadTimerServices::JoinFinished() {
  std::vector<std::shared_ptr<Event>> done;
  {
    std::lock_guard<std::mutex> hold(lock_);
    done.swap(finished_);
  }
  for (auto& event : done) {
    if (event->thread.get_id() == std::this_thread::get_id()) {
      // Still running this very procedure: joined by a later call from another thread.
      std::lock_guard<std::mutex> hold(lock_);
      finished_.push_back(event);
    } else {
      event->thread.join();
    }
  }
}

}  // namespace

std::unique_ptr<TimerServices> MakeSystemTimerServices() {
  return std::make_unique<ThreadTimerServices>();
}

}  // namespace kv5
