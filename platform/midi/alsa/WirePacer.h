// Paces output to a sequencer port that stands for a hardware line but has no raw MIDI device the
// backend can write to. The kernel keeps a buffer in front of the line and drops what does not fit
// without telling the sender, so a large SysEx must not get further ahead of the line than that
// buffer holds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/midi/alsa/OutputPacer.h"

namespace kv5 {

class WirePacer : public OutputPacer {
 public:
  WirePacer(size_t bufferBytes, uint32_t bytesPerSecond);

  Clock::duration DelayBefore(size_t bytes, Clock::time_point now) override;
  void Sent(size_t bytes, Clock::time_point now) override;

 private:
  void Drain(Clock::time_point now);

  const size_t bufferBytes_;
  const uint32_t bytesPerSecond_;
  double queued_ = 0;  // bytes estimated still waiting for the line
  Clock::time_point last_{};
};

}  // namespace kv5
