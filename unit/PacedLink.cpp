#include "unit/PacedLink.h"

#include <chrono>
#include <thread>

namespace kv5 {

PacedLink::PacedLink(MidiEndpoint& device, uint32_t bytesPerSecond)
    : device_(device), bytesPerSecond_(bytesPerSecond) {
  device_.SetReceiver([this](const uint8_t* bytes, size_t length) {
    Occupy(length);
    hostBytes_ += length;
    Receiver unit;
    {
      std::lock_guard<std::mutex> hold(lock_);
      unit = unit_;
    }
    if (unit) unit(bytes, length);
  });
}

void PacedLink::SetReceiver(Receiver receiver) {
  std::lock_guard<std::mutex> hold(lock_);
  unit_ = std::move(receiver);
}

bool PacedLink::Send(const uint8_t* bytes, size_t length) {
  Occupy(length);
  return device_.Send(bytes, length);
}

void PacedLink::Occupy(size_t length) const {
  // A line's timing is exact to the byte, but a sleep ends late by the timer's slack and the
  // thread's wake-up, some 30-100 us on a loaded machine: on a 7-byte reply at USB speed that
  // would be ten times its wire time. So the sleep ends early and the rest is waited out busily:
  // yielding there would let a loaded machine's other jobs stretch the wait by milliseconds.
  using Clock = std::chrono::steady_clock;
  constexpr auto kSleepMargin = std::chrono::microseconds(150);
  const auto wire = std::chrono::microseconds(length * 1'000'000ull / bytesPerSecond_);
  const Clock::time_point end = Clock::now() + wire;
  if (wire > kSleepMargin) std::this_thread::sleep_until(end - kSleepMargin);
  while (Clock::now() < end) {
  }
}

}  // namespace kv5
