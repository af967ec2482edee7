// A MIDI line of a given speed between a loopback device and the virtual unit, behaving as a real
// interface does: each message occupies the line for its length divided by the rate, and a send
// returns only when its last byte has left, so the host's send blocks for the wire time and its
// reply wait starts after it. (The unit's own pacing delays its answer instead, which puts the
// request's wire time inside the host's reply wait.) Only the loopback lets a receiver take this
// long: its device waits for the receiver before it marks the host's buffer done.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/midi/MidiEndpoint.h"

namespace kv5 {

class PacedLink : public MidiEndpoint {
 public:
  PacedLink(MidiEndpoint& device, uint32_t bytesPerSecond);

  // The unit's side.
  void SetReceiver(Receiver receiver) override;
  bool Send(const uint8_t* bytes, size_t length) override;
  std::string Name() const override { return device_.Name(); }

  // Bytes the host has sent over the line.
  uint64_t HostBytes() const { return hostBytes_.load(); }

 private:
  void Occupy(size_t length) const;

  MidiEndpoint& device_;
  const uint32_t bytesPerSecond_;
  std::mutex lock_;
  Receiver unit_;
  std::atomic<uint64_t> hostBytes_{0};
};

}  // namespace kv5
