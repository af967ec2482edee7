// Keeps the soak itself from hanging: the main thread arms it with a deadline before every step
// that could block (a session, a window's teardown); if the step has not disarmed it by then, the
// watchdog prints what was running and the summary so far, and ends the process with code 3.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace kv5::soak {

class Watchdog {
 public:
  using Clock = std::chrono::steady_clock;

  // lastWords runs on the watchdog's thread when it fires; it must be safe to call from there.
  explicit Watchdog(std::function<std::string()> lastWords);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Arm(Clock::time_point deadline, std::string what);
  void Disarm();

 private:
  void Run();

  std::function<std::string()> lastWords_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool quit_ = false;
  Clock::time_point deadline_;
  std::string what_;
  std::thread thread_;
};

}  // namespace kv5::soak
