#include "platform/midi/alsa/WirePacer.h"

#include <algorithm>

namespace kv5 {

WirePacer::WirePacer(size_t bufferBytes, uint32_t bytesPerSecond)
    : bufferBytes_(bufferBytes), bytesPerSecond_(bytesPerSecond) {}

void WirePacer::Drain(Clock::time_point now) {
  if (now <= last_) return;
  const double seconds = std::chrono::duration<double>(now - last_).count();
  queued_ = std::max(0.0, queued_ - seconds * bytesPerSecond_);
  last_ = now;
}

WirePacer::Clock::duration WirePacer::DelayBefore(size_t bytes, Clock::time_point now) {
  Drain(now);
  // A piece larger than the whole buffer can only wait for the buffer to empty.
  const double room = static_cast<double>(std::max(bufferBytes_, bytes));
  const double excess = queued_ + static_cast<double>(bytes) - room;
  if (excess <= 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(excess / bytesPerSecond_));
}

void WirePacer::Sent(size_t bytes, Clock::time_point now) {
  Drain(now);
  queued_ += static_cast<double>(bytes);
}

}  // namespace kv5
