// The threads, locks, condition variables and sleeps of the C and C++ libraries on the page's
// fibers. The build links every call of these functions here instead of the single-threaded
// library's stand-ins (which never start a thread and never wait), so std::thread, std::mutex and
// std::condition_variable keep their meaning: a wait hands the page to the next ready fiber.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <deque>
#include <map>

#include "platform/event/web/FiberScheduler.h"

namespace kv5::web {
namespace {

// What a mutex holds in its own storage.
struct MutexState {
  Fiber* owner;
  int depth;
};
static_assert(sizeof(MutexState) <= sizeof(pthread_mutex_t));

MutexState& StateOf(pthread_mutex_t* mutex) {
  return *reinterpret_cast<MutexState*>(mutex);
}

// The fibers waiting for a mutex or a condition variable, by its address, first come first.
std::map<const void*, std::deque<Fiber*>>& Waiters() {
  static auto* const waiters = new std::map<const void*, std::deque<Fiber*>>;
  return *waiters;
}

void Enqueue(const void* object, Fiber* fiber) {
  Waiters()[object].push_back(fiber);
}

void Dequeue(const void* object, Fiber* fiber) {
  auto found = Waiters().find(object);
  if (found == Waiters().end()) return;
  std::deque<Fiber*>& queue = found->second;
  for (auto at = queue.begin(); at != queue.end(); ++at) {
    if (*at == fiber) {
      queue.erase(at);
      break;
    }
  }
  if (queue.empty()) Waiters().erase(found);
}

// Wakes the first (or every) fiber waiting on the object.
void WakeWaiters(const void* object, bool all) {
  auto found = Waiters().find(object);
  if (found == Waiters().end()) return;
  std::deque<Fiber*> woken;
  if (all) {
    woken.swap(found->second);
  } else {
    woken.push_back(found->second.front());
    found->second.pop_front();
  }
  if (found->second.empty()) Waiters().erase(found);
  for (Fiber* fiber : woken) FiberScheduler::Instance().Wake(fiber);
}

Millis DeadlineOf(const timespec* realtime) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const double left =
      (realtime->tv_sec - now.tv_sec) * 1e3 + (realtime->tv_nsec - now.tv_nsec) / 1e6;
  return MonotonicNow() + left;
}

int Lock(pthread_mutex_t* mutex) {
  FiberScheduler& scheduler = FiberScheduler::Instance();
  MutexState& state = StateOf(mutex);
  Fiber* self = scheduler.Current();
  if (state.owner == self) {
    ++state.depth;  // a recursive mutex; for a plain one the program would have hung
    return 0;
  }
  while (state.owner != nullptr) {
    Enqueue(mutex, self);
    scheduler.Wait(kNoDeadline);
    Dequeue(mutex, self);
  }
  state.owner = self;
  state.depth = 1;
  return 0;
}

int Unlock(pthread_mutex_t* mutex) {
  MutexState& state = StateOf(mutex);
  if (state.owner != FiberScheduler::Instance().Current()) return EPERM;
  if (--state.depth > 0) return 0;
  state.owner = nullptr;
  WakeWaiters(mutex, false);
  return 0;
}

int WaitOnCondition(pthread_cond_t* condition, pthread_mutex_t* mutex, Millis deadline) {
  FiberScheduler& scheduler = FiberScheduler::Instance();
  Fiber* self = scheduler.Current();
  MutexState& state = StateOf(mutex);
  const int depth = state.depth;
  Enqueue(condition, self);
  state.depth = 1;
  Unlock(mutex);
  const bool woken = scheduler.Wait(deadline);
  if (!woken) Dequeue(condition, self);
  Lock(mutex);
  state.depth = depth;
  return woken ? 0 : ETIMEDOUT;
}

Fiber* FiberOf(pthread_t thread) {
  return reinterpret_cast<Fiber*>(thread);
}

}  // namespace
}  // namespace kv5::web

using kv5::web::FiberScheduler;

extern "C" {

int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t*, void* (*start)(void*),
                          void* argument) {
  *thread = reinterpret_cast<pthread_t>(FiberScheduler::Instance().Spawn(start, argument));
  return 0;
}

int __wrap_pthread_join(pthread_t thread, void** result) {
  kv5::web::Fiber* fiber = kv5::web::FiberOf(thread);
  void* value = fiber->result;
  FiberScheduler::Instance().Join(fiber);
  if (result != nullptr) *result = value;
  return 0;
}

int __wrap_pthread_detach(pthread_t thread) {
  FiberScheduler::Instance().Detach(kv5::web::FiberOf(thread));
  return 0;
}

pthread_t __wrap_pthread_self() {
  return reinterpret_cast<pthread_t>(FiberScheduler::Instance().Current());
}

int __wrap_pthread_mutex_lock(pthread_mutex_t* mutex) {
  return kv5::web::Lock(mutex);
}

int __wrap_pthread_mutex_trylock(pthread_mutex_t* mutex) {
  kv5::web::MutexState& state = kv5::web::StateOf(mutex);
  if (state.owner != nullptr && state.owner != FiberScheduler::Instance().Current()) return EBUSY;
  return kv5::web::Lock(mutex);
}

int __wrap_pthread_mutex_unlock(pthread_mutex_t* mutex) {
  return kv5::web::Unlock(mutex);
}

int __wrap_pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
  return kv5::web::WaitOnCondition(condition, mutex, kv5::web::kNoDeadline);
}

int __wrap_pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                                  const timespec* until) {
  return kv5::web::WaitOnCondition(condition, mutex, kv5::web::DeadlineOf(until));
}

int __wrap_pthread_cond_signal(pthread_cond_t* condition) {
  kv5::web::WakeWaiters(condition, false);
  return 0;
}

int __wrap_pthread_cond_broadcast(pthread_cond_t* condition) {
  kv5::web::WakeWaiters(condition, true);
  return 0;
}

int __wrap_nanosleep(const timespec* duration, timespec* remaining) {
  FiberScheduler& scheduler = FiberScheduler::Instance();
  const kv5::web::Millis deadline =
      kv5::web::MonotonicNow() + duration->tv_sec * 1e3 + duration->tv_nsec / 1e6;
  // Nothing wakes a sleep early.
  while (scheduler.Wait(deadline)) {
  }
  if (remaining != nullptr) *remaining = {};
  return 0;
}

int __wrap_sched_yield() {
  FiberScheduler::Instance().Yield();
  return 0;
}

}  // extern "C"
