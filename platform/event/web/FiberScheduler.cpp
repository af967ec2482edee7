#include "platform/event/web/FiberScheduler.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/event/web/BrowserTurn.h"

extern "C" {
// From browser-turn.js: calls kv5_browser_timer_due after delayMs (a new call replaces the last).
void kv5_arm_turn_timer(double delayMs);
void kv5_end_program(int code);
}

namespace kv5::web {
namespace {

// A session's worker and the test programs' threads keep deep frames (a chunk's message is 4.7 KB
// on the stack); a handful of fibers run at a time.
constexpr size_t kCStackBytes = 1u << 20;
constexpr size_t kUnwindStackBytes = 128u << 10;

[[noreturn]] void Fatal(const char* what) {
  std::fprintf(stderr, "fiber scheduler: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

Millis MonotonicNow() {
  return emscripten_get_now();
}

FiberScheduler& FiberScheduler::Instance() {
  // Never destroyed: fibers may still wait while the program ends.
  static FiberScheduler* const scheduler = new FiberScheduler;
  return *scheduler;
}

FiberScheduler::FiberScheduler()
    : browserUnwindStack_(std::make_unique<uint8_t[]>(kUnwindStackBytes)) {}

Fiber* FiberScheduler::Spawn(void* (*start)(void*), void* argument) {
  auto* fiber = new Fiber;
  fiber->start = start;
  fiber->argument = argument;
  fiber->cStack = std::make_unique<uint8_t[]>(kCStackBytes);
  fiber->unwindStack = std::make_unique<uint8_t[]>(kUnwindStackBytes);
  emscripten_fiber_init(&fiber->context, &FiberScheduler::FiberMain, fiber, fiber->cStack.get(),
                        kCStackBytes, fiber->unwindStack.get(), kUnwindStackBytes);
  fibers_.push_back(fiber);
  ready_.push_back(fiber);
  // Started outside a turn (a program's main): a turn of its own runs it.
  if (!inTurn_) ArmTimer();
  return fiber;
}

void FiberScheduler::FiberMain(void* argument) {
  auto* fiber = static_cast<Fiber*>(argument);
  FiberScheduler& scheduler = Instance();
  fiber->result = fiber->start(fiber->argument);
  fiber->finished = true;
  if (fiber->joiner != nullptr) scheduler.Wake(fiber->joiner);
  // A finished fiber is never resumed: the browser's context releases it.
  emscripten_fiber_swap(&fiber->context, &scheduler.browser_.context);
  Fatal("a finished fiber was resumed");
}

bool FiberScheduler::Wait(Millis deadline) {
  Fiber* self = current_;
  self->waiting = true;
  self->timedOut = false;
  self->deadline = deadline;
  if (self == &browser_) {
    // The browser's context cannot wait for the browser: only fibers can end this wait.
    while (browser_.waiting) {
      ExpireDeadlines();
      if (!browser_.waiting) break;
      if (ready_.empty()) Fatal("the page's own context would wait for the browser");
      Fiber* next = ready_.front();
      ready_.pop_front();
      Resume(next);
    }
  } else {
    emscripten_fiber_swap(&self->context, &browser_.context);
  }
  self->deadline = kNoDeadline;
  return !self->timedOut;
}

void FiberScheduler::Wake(Fiber* fiber) {
  if (!fiber->waiting) return;
  fiber->waiting = false;
  if (fiber != &browser_) ready_.push_back(fiber);
}

void FiberScheduler::Join(Fiber* fiber) {
  if (fiber == current_) Fatal("a thread joins itself");
  if (!fiber->finished) {
    fiber->joiner = current_;
    while (!fiber->finished) Wait(kNoDeadline);
  }
  fiber->joined = true;
  Release(fiber);
}

void FiberScheduler::Detach(Fiber* fiber) {
  fiber->detached = true;
  if (fiber->finished) Release(fiber);
}

void FiberScheduler::Yield() {
  if (current_ == &browser_) {
    RunReady();
    return;
  }
  ready_.push_back(current_);
  emscripten_fiber_swap(&current_->context, &browser_.context);
}

void FiberScheduler::Resume(Fiber* fiber) {
  current_ = fiber;
  emscripten_fiber_swap(&browser_.context, &fiber->context);
  current_ = &browser_;
  if (fiber->finished && (fiber->detached || fiber->joined)) Release(fiber);
}

void FiberScheduler::Release(Fiber* fiber) {
  // A fiber is released once it has finished and nobody can still join it; a finished fiber's
  // stack is no longer in use once the browser's context runs again.
  if (!fiber->finished || !(fiber->detached || fiber->joined)) return;
  if (current_ == fiber) return;
  fibers_.erase(std::remove(fibers_.begin(), fibers_.end(), fiber), fibers_.end());
  delete fiber;
}

void FiberScheduler::ExpireDeadlines() {
  const Millis now = MonotonicNow();
  // Waking may not change fibers_ (only Spawn and Release do, on other paths).
  for (Fiber* fiber : fibers_) {
    if (fiber->waiting && fiber->deadline <= now) {
      fiber->timedOut = true;
      Wake(fiber);
    }
  }
  if (browser_.waiting && browser_.deadline <= now) {
    browser_.timedOut = true;
    browser_.waiting = false;
  }
}

void FiberScheduler::RunReady() {
  for (;;) {
    ExpireDeadlines();
    if (ready_.empty()) return;
    Fiber* next = ready_.front();
    ready_.pop_front();
    Resume(next);
  }
}

void FiberScheduler::ArmTimer() {
  Millis earliest = ready_.empty() ? kNoDeadline : MonotonicNow();
  for (const Fiber* fiber : fibers_)
    if (fiber->waiting) earliest = std::min(earliest, fiber->deadline);
  // A timer that runs out before it is needed only brings a turn that arms it again: cheaper
  // than moving it at every wait, since a session's deadlines move later with every reply.
  if (earliest >= armedFor_) return;
  armedFor_ = earliest;
  kv5_arm_turn_timer(std::max(0.0, earliest - MonotonicNow()));
}

void FiberScheduler::RunTurn(void (*call)(void*), void* argument) {
  if (inTurn_ || current_ != &browser_) Fatal("a turn started inside another");
  inTurn_ = true;
  // Each turn enters on a fresh stack of the browser's; fibers switch back to it.
  emscripten_fiber_init_from_current_context(&browser_.context, browserUnwindStack_.get(),
                                             kUnwindStackBytes);
  call(argument);
  RunReady();
  inTurn_ = false;
  ArmTimer();
}

void FiberScheduler::TimerFired() {
  armedFor_ = kNoDeadline;
}

}  // namespace kv5::web

namespace kv5 {

void RunBrowserTurn(const std::function<void()>& call) {
  web::FiberScheduler::Instance().RunTurn(
      [](void* argument) { (*static_cast<const std::function<void()>*>(argument))(); },
      const_cast<std::function<void()>*>(&call));
}

void EndBrowserProgram(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  kv5_end_program(code);
  std::abort();
}

}  // namespace kv5

extern "C" EMSCRIPTEN_KEEPALIVE void kv5_browser_timer_due() {
  kv5::web::FiberScheduler::Instance().TimerFired();
  kv5::RunBrowserTurn([] {});
}
