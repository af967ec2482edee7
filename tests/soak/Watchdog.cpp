#include "Watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace kv5::soak {

Watchdog::Watchdog(std::function<std::string()> lastWords)
    : lastWords_(std::move(lastWords)), thread_([this] { Run(); }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Watchdog::Arm(Clock::time_point deadline, std::string what) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    armed_ = true;
    deadline_ = deadline;
    what_ = std::move(what);
  }
  changed_.notify_all();
}

void Watchdog::Disarm() {
  std::lock_guard<std::mutex> hold(lock_);
  armed_ = false;
}

void Watchdog::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!quit_) {
    if (!armed_) {
      changed_.wait(hold);
      continue;
    }
    if (Clock::now() < deadline_) {
      changed_.wait_until(hold, deadline_);
      continue;
    }
    std::fprintf(stderr, "soak: HANG: %s did not end in time; giving up\n", what_.c_str());
    hold.unlock();
    std::printf("%s\n", lastWords_().c_str());
    std::fflush(stdout);
    std::_Exit(3);
  }
}

}  // namespace kv5::soak
