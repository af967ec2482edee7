// The one way out for every message: 0 when the message was sent and the device has finished
// with the bytes, -1 on failure. Senders on different threads are serialised.
#pragma once

#include <cstdint>

namespace kv5 {

class SysexSender {
 public:
  virtual ~SysexSender() = default;
  virtual int SendSysex(const uint8_t* bytes, uint32_t length) = 0;
};

}  // namespace kv5
