// The observer of the JACK devices: a thread that wakes on JACK's notices (a port unregistered,
// the server shut down), and now and then without one, and lets the open devices look whether
// their far port is still there.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/midi/jack/JackLink.h"

namespace kv5 {

class JackDeviceObserver {
 public:
  // Runs on the observer's thread after every notice and every observer interval.
  using Check = std::function<void()>;

  // Starts the thread.
  JackDeviceObserver(JackLink& link, Check check);
  // Returns once no check runs or can start.
  ~JackDeviceObserver();
  JackDeviceObserver(const JackDeviceObserver&) = delete;
  JackDeviceObserver& operator=(const JackDeviceObserver&) = delete;

 private:
  void ObserveLoop();

  JackLink& link_;
  const Check check_;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

}  // namespace kv5
