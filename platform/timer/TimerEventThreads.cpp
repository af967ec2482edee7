#include "platform/timer/TimerEventThreads.h"

namespace kv5 {

TimerEventThreads::~TimerEventThreads() {
  std::vector<uint32_t> ids;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& entry : events_) ids.push_back(entry.first);
  }
  for (uint32_t id : ids) KillEvent(id);
  JoinFinished();
  // Left only when the timer is destroyed from inside a procedure.
  for (auto& event : finished_) event->thread.detach();
}

uint32_t TimerEventThreads::SetEvent(uint32_t delay, uint32_t resolution, TimerProc procedure,
                                     uintptr_t user, uint32_t flags) {
  if (procedure == nullptr || delay < kDelayMin || delay > kDelayMax) return 0;
  JoinFinished();
  auto event = std::make_shared<Event>();
  event->signal = makeSignal_(resolution);
  if (!event->signal) return 0;
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

uint32_t TimerEventThreads::KillEvent(uint32_t id) {
  std::shared_ptr<Event> event;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = events_.find(id);
    if (found == events_.end()) return TIMERR_NOCANDO;
    event = found->second;
    events_.erase(found);
    event->killed = true;
    event->signal->Notify();
    if (event->thread.get_id() == std::this_thread::get_id()) {
      // Called from its own procedure: no further call starts, and the thread is joined later.
      finished_.push_back(event);
      return TIMERR_NOERROR;
    }
  }
  event->thread.join();
  return TIMERR_NOERROR;
}

uint32_t TimerEventThreads::WakeEvent(uint32_t id) {
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
  event->signal->Notify();
  return TIMERR_NOERROR;
}

uint32_t TimerEventThreads::RestEvent(uint32_t id, uint32_t restLimit) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = events_.find(id);
  if (found == events_.end() || restLimit < kDelayMin || restLimit > kDelayMax) {
    return TIMERR_NOCANDO;
  }
  found->second->rest = std::chrono::milliseconds(restLimit);
  return TIMERR_NOERROR;
}

void TimerEventThreads::Run(const std::shared_ptr<Event>& event) {
  using Clock = std::chrono::steady_clock;
  event->signal->Started();
  std::unique_lock<std::mutex> hold(lock_);
  auto deadline = Clock::now() + event->period;
  for (;;) {
    while (!event->killed && !event->woken && Clock::now() < deadline) {
      event->signal->WaitUntil(hold, deadline);
    }
    if (event->killed) break;
    const Clock::time_point started = Clock::now();
    const bool early = started < deadline;
    // A wake from here on asks for another tick: the one starting now may miss what it saw.
    event->woken = false;
    event->rest = std::chrono::milliseconds(0);
    hold.unlock();
    event->procedure(event->id, 0, event->user, 0, 0);
    hold.lock();
    if (event->killed) break;
    if (!event->periodic) {
      event->killed = true;
      events_.erase(event->id);
      finished_.push_back(event);
      break;
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
  hold.unlock();
  event->signal->Ended();
}

void TimerEventThreads::JoinFinished() {
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

}  // namespace kv5
