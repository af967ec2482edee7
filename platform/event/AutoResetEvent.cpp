#include "platform/event/AutoResetEvent.h"

namespace kv5 {

void AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    set_ = true;
  }
  signalled_.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  set_ = false;
}

bool AutoResetEvent::Wait(uint32_t milliseconds) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!signalled_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return set_; }))
    return false;
  set_ = false;
  return true;
}

bool AutoResetEvent::IsSet() const {
  std::lock_guard<std::mutex> hold(lock_);
  return set_;
}

}  // namespace kv5
