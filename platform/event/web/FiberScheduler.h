// The fibers that stand in for threads on the page, and the order in which they run: the
// browser's own context runs a turn and then resumes each ready fiber in turn; a fiber that waits
// hands control back to it. Fibers switch only where one waits, so nothing runs in between.
#pragma once

#include <emscripten/fiber.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace kv5::web {

// A time on the page's monotonic clock, in milliseconds.
using Millis = double;
constexpr Millis kNoDeadline = 1e300;
Millis MonotonicNow();

struct Fiber {
  emscripten_fiber_t context{};
  std::unique_ptr<uint8_t[]> cStack;
  std::unique_ptr<uint8_t[]> unwindStack;  // the locals of a waiting fiber's frames
  void* (*start)(void*) = nullptr;
  void* argument = nullptr;
  void* result = nullptr;
  bool waiting = false;
  bool timedOut = false;
  Millis deadline = kNoDeadline;
  bool finished = false;
  bool detached = false;
  bool joined = false;
  Fiber* joiner = nullptr;
};

class FiberScheduler {
 public:
  static FiberScheduler& Instance();

  Fiber* Current() const { return current_; }
  bool OnBrowserContext() const { return current_ == &browser_; }

  // A new fiber, ready to run start(argument) at the next chance.
  Fiber* Spawn(void* (*start)(void*), void* argument);
  // Waits until Wake or the deadline: true when woken, false when the deadline passed first. On
  // the browser's own context the ready fibers run meanwhile; it cannot wait for the browser.
  bool Wait(Millis deadline);
  // Makes a waiting fiber ready; nothing when it is not waiting.
  void Wake(Fiber* fiber);
  // Waits until the fiber has finished, then releases it.
  void Join(Fiber* fiber);
  void Detach(Fiber* fiber);
  // Lets every other ready fiber run first.
  void Yield();

  void RunTurn(void (*call)(void*), void* argument);
  // The browser's timer ran out: nothing is armed until the next turn arms it.
  void TimerFired();

 private:
  FiberScheduler();
  static void FiberMain(void* fiber);
  // Browser context: runs ready fibers until none is left.
  void RunReady();
  void Resume(Fiber* fiber);
  // Wakes, as timed out, every waiting fiber whose deadline has passed.
  void ExpireDeadlines();
  void Release(Fiber* fiber);
  void ArmTimer();

  Fiber browser_;
  Fiber* current_ = &browser_;
  std::unique_ptr<uint8_t[]> browserUnwindStack_;
  std::deque<Fiber*> ready_;
  std::vector<Fiber*> fibers_;
  bool inTurn_ = false;
  Millis armedFor_ = kNoDeadline;
};

}  // namespace kv5::web
