// Collects whole SysEx messages (F0 to F7) from bytes that arrive in pieces, as the sequencer
// delivers them: a large message may come as several events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kv5 {

class SysexAssembler {
 public:
  using Complete = std::function<void(const uint8_t* bytes, size_t length)>;

  // A message that grows beyond limit bytes without its F7 is dropped.
  explicit SysexAssembler(size_t limit) : limit_(limit) {}

  // Calls complete once for every message these bytes finish. A status byte inside a message
  // drops it (a new F0 starts the next one); real-time bytes are skipped; bytes outside a message
  // are ignored.
  void Feed(const uint8_t* bytes, size_t count, const Complete& complete);
  // Bytes were lost: the message being assembled is dropped.
  void Drop();

 private:
  const size_t limit_;
  std::vector<uint8_t> message_;
  bool inMessage_ = false;
};

}  // namespace kv5
