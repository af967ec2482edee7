// A listener to the traffic of the reply handshake, for a transcript: every message the host
// sent (with the send's result) and every message the poller took from the received queue, each
// just before it is handled. It only looks; what it does changes nothing of the exchange.
#pragma once

#include <cstdint>

namespace kv5 {

class TrafficTap {
 public:
  virtual ~TrafficTap() = default;
  // On the sending thread (a worker or the poller), after the send returned result (0 or -1).
  virtual void OnSent(const uint8_t* bytes, uint32_t length, int result) = 0;
  // On the timer thread, before the poller dispatches the message.
  virtual void OnReceived(const uint8_t* bytes, uint32_t length) = 0;
};

}  // namespace kv5
