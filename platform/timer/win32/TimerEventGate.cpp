#include "platform/timer/win32/TimerEventGate.h"

namespace kv5 {

void TimerEventGate::Run(uint32_t id, uint32_t message) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return;
    running_ = true;
    runningOn_ = std::this_thread::get_id();
  }
  procedure_(id, message, user_, 0, 0);
  {
    std::lock_guard<std::mutex> hold(lock_);
    running_ = false;
  }
  idle_.notify_all();
}

bool TimerEventGate::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  return running_ && runningOn_ == std::this_thread::get_id();
}

void TimerEventGate::WaitUntilIdle() {
  std::unique_lock<std::mutex> hold(lock_);
  idle_.wait(hold, [this] { return !running_; });
}

}  // namespace kv5
