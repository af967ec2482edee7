// How fast a message may be fed, in pieces, to a sequencer port that stands for a device with a
// buffer in front of it which drops what does not fit (a MIDI line, a card behind the kernel's
// bridge): the sender asks before each piece and tells after it.
#pragma once

#include <chrono>
#include <cstddef>

namespace kv5 {

class OutputPacer {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~OutputPacer() = default;
  // How long to wait from now before bytes more may be handed to the port.
  virtual Clock::duration DelayBefore(size_t bytes, Clock::time_point now) = 0;
  // The bytes were handed to the port at now.
  virtual void Sent(size_t bytes, Clock::time_point now) = 0;
};

}  // namespace kv5
