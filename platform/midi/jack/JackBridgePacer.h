// Paces an output port's bytes towards a sound card that a bridge serves (jackd's raw MIDI bridge,
// a2jmidid): the bridge takes each cycle's events at once and drops what does not fit its buffers
// (jackd's keeps 4096 bytes of events, the card's raw buffer as many), so a 4700-byte message
// written into one cycle is lost. The process callback may write only up to an allowance: the
// bytes the card's driver has taken since the port opened, as the kernel counts them, plus a
// share that every buffer on the way holds. A thread of its own renews the allowance while
// messages wait; where the kernel's count cannot be read, the card is taken to be a 31250-baud
// line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/midi/common/CardMidiState.h"

namespace kv5 {

class JackBridgePacer {
 public:
  // inFlightBytes: the most bytes on their way to the card at once; interval: how often the
  // kernel's count is read while bytes wait.
  JackBridgePacer(const CardPortAddress& card, size_t inFlightBytes,
                  std::chrono::microseconds interval);
  ~JackBridgePacer();
  JackBridgePacer(const JackBridgePacer&) = delete;
  JackBridgePacer& operator=(const JackBridgePacer&) = delete;

  // The process callback's side; realtime-safe. Wrote returns the count of bytes written in all,
  // which Delivered compares with what the card has taken.
  size_t Allowance() const noexcept;
  uint64_t Wrote(size_t bytes) noexcept;
  bool Delivered(uint64_t written) const noexcept;

  // A message of bytes was queued: the allowance is renewed until it is written.
  void Queued(size_t bytes);
  // What was queued and not written was dropped (the stream was cancelled).
  void Dropped();

 private:
  void Loop();
  void Renew();

  const CardPortAddress card_;
  const size_t inFlightBytes_;
  const std::chrono::microseconds interval_;
  const std::chrono::steady_clock::time_point start_;
  uint64_t sentAtStart_ = 0;
  bool counted_ = true;
  std::atomic<uint64_t> allowed_;  // bytes the callback may have written in all
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> delivered_{0};  // bytes the card has taken since the start
  std::mutex lock_;
  std::condition_variable wake_;
  uint64_t queued_ = 0;  // bytes queued in all
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace kv5
