#include "platform/midi/jack/JackDeviceObserver.h"

#include <chrono>

namespace kv5 {

JackDeviceObserver::JackDeviceObserver(JackLink& link, Check check)
    : link_(link), check_(std::move(check)), thread_([this] { ObserveLoop(); }) {}

JackDeviceObserver::~JackDeviceObserver() {
  quit_ = true;
  link_.Current()->WakeChangeWaiter();
  thread_.join();
}

void JackDeviceObserver::ObserveLoop() {
  const auto interval = std::chrono::milliseconds(link_.Config().observerIntervalMs);
  // The server tells of a port going before the port has left its graph: after a notice the
  // devices are looked at again every few milliseconds for a while.
  constexpr auto kSoon = std::chrono::milliseconds(5);
  constexpr int kChecksAfterNotice = 40;
  int soon = 0;
  while (!quit_) {
    // A client replaced meanwhile has a semaphore of its own: wait on the one current now.
    std::shared_ptr<JackClient> client = link_.Current();
    if (client->WaitForChange(soon > 0 ? kSoon : interval)) {
      soon = kChecksAfterNotice;
    } else if (soon > 0) {
      --soon;
    }
    if (quit_) return;
    link_.RunCheck(check_);
  }
}

}  // namespace kv5
