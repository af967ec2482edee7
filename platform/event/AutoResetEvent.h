// An auto-reset event: Set releases one wait (or the next one, if nobody waits); several Sets
// before a wait count as one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kv5 {

class AutoResetEvent {
 public:
  void Set();
  void Reset();
  // True when the event was signalled within the time limit (and is now reset again).
  bool Wait(uint32_t milliseconds);
  bool IsSet() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable signalled_;
  bool set_ = false;
};

}  // namespace kv5
