#include "platform/midi/alsa/SysexAssembler.h"

namespace kv5 {

void SysexAssembler::Drop() {
  inMessage_ = false;
  message_.clear();
}

void SysexAssembler::Feed(const uint8_t* bytes, size_t count, const Complete& complete) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0xF8) continue;  // real-time bytes may sit anywhere, even inside a message
    if (byte == 0xF0) {
      message_.assign(1, byte);
      inMessage_ = true;
      continue;
    }
    if (!inMessage_) continue;
    if (byte & 0x80 && byte != 0xF7) {  // a status byte cuts the message short
      inMessage_ = false;
      message_.clear();
      continue;
    }
    if (message_.size() == limit_) {
      inMessage_ = false;
      message_.clear();
      continue;
    }
    message_.push_back(byte);
    if (byte == 0xF7) {
      inMessage_ = false;
      complete(message_.data(), message_.size());
      message_.clear();
    }
  }
}

}  // namespace kv5
