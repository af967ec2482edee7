#include "web/RefusedChunkWatch.h"

#include "tools/kv5update/MessageText.h"

namespace kv5 {

void RefusedChunkWatch::OnSent(const uint8_t* bytes, uint32_t length) {
  const std::string kind = RequestKind(bytes, length);
  if (kind.empty()) return;  // the host's answers to the unit's own requests
  if (kind != "write") {
    writing_ = false;
    return;
  }
  const uint32_t address = RequestAddress(bytes, length);
  attempts_ = writing_ && address == address_ ? attempts_ + 1 : 1;
  writing_ = true;
  address_ = address;
  if (attempts_ >= kRefusedAttempts && !told_) {
    told_ = true;
    notice_(address_, attempts_);
  }
}

void RefusedChunkWatch::Restart() {
  writing_ = false;
  attempts_ = 0;
  told_ = false;
}

}  // namespace kv5
