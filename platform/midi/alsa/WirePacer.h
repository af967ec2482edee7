// Paces output to a sequencer port that stands for a hardware line but has no raw MIDI device the
// backend can write to. The kernel keeps a buffer in front of the line and drops what does not fit
// without telling the sender, so a large SysEx must not get further ahead of the line than that
// buffer holds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kv5 {

class WirePacer {
 public:
  using Clock = std::chrono::steady_clock;

  WirePacer(size_t bufferBytes, uint32_t bytesPerSecond);

  // How long to wait from now before bytes more may be handed to the port.
  Clock::duration DelayBefore(size_t bytes, Clock::time_point now);
  // The bytes were handed to the port at now.
  void Sent(size_t bytes, Clock::time_point now);

 private:
  void Drain(Clock::time_point now);

  const size_t bufferBytes_;
  const uint32_t bytesPerSecond_;
  double queued_ = 0;  // bytes estimated still waiting for the line
  Clock::time_point last_{};
};

}  // namespace kv5
