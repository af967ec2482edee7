// Notices a write chunk that the unit keeps refusing: the same chunk sent again and again. On
// Linux a message from the browser to a sound card's port passes the kernel's sequencer bridge,
// whose 4096-byte buffer drops what does not fit, so a chunk may reach the unit damaged every
// time; the page then tells the owner what to do. Said once a session.
#pragma once

#include <cstdint>
#include <functional>

namespace kv5 {

class RefusedChunkWatch {
 public:
  // Attempts of one chunk that make it "refused": the first resend may be a lost answer, the
  // second is a pattern.
  static constexpr int kRefusedAttempts = 3;

  explicit RefusedChunkWatch(std::function<void(uint32_t address, int attempts)> notice)
      : notice_(std::move(notice)) {}

  // Every message the host sends.
  void OnSent(const uint8_t* bytes, uint32_t length);
  // A new session: counts and the notice start afresh.
  void Restart();

 private:
  std::function<void(uint32_t, int)> notice_;
  bool writing_ = false;
  uint32_t address_ = 0;
  int attempts_ = 0;
  bool told_ = false;
};

}  // namespace kv5
