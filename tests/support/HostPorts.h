// The host's two ports on a MIDI backend, opened on the devices of one name, for tests that talk
// through a real transport (loopback, JACK) to the virtual unit or an echoing peer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/MidiBackend.h"

namespace kv5::test {

class HostPorts {
 public:
  explicit HostPorts(MidiBackend& backend,
                     uint32_t completionLimitMs = MidiOutPort::kDefaultCompletionLimitMs)
      : in_(backend.In()), out_(backend.Out(), completionLimitMs), backend_(backend) {}
  ~HostPorts();

  // Opens the input and output devices named `name` (closing what was open); false when either
  // is missing or fails.
  bool Open(const std::string& name);
  void Close();
  MidiInPort& In() { return in_; }
  MidiOutPort& Out() { return out_; }

  bool Send(std::vector<uint8_t> message);
  // The next complete message (entries joined up to F7); empty on timeout.
  std::vector<uint8_t> Receive(std::chrono::milliseconds limit);
  // Sends a request and returns the next message that arrives.
  std::vector<uint8_t> Ask(std::vector<uint8_t> request,
                           std::chrono::milliseconds limit = std::chrono::seconds(5));

 private:
  MidiInPort in_;
  MidiOutPort out_;
  MidiBackend& backend_;
};

}  // namespace kv5::test
