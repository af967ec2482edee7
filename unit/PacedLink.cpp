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
  std::this_thread::sleep_for(std::chrono::microseconds(length * 1'000'000ull / bytesPerSecond_));
}

}  // namespace kv5
