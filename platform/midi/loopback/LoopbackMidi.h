// In-process MIDI: each device added here appears to the host as one input and one output device
// of the same name, and its far side is a MidiEndpoint (the virtual unit, or a test).
#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/MidiEndpoint.h"

namespace kv5 {

class LoopbackMidi : public MidiBackend {
 public:
  LoopbackMidi();
  ~LoopbackMidi() override;

  // Adds a device; its index is the number of devices added before it, in both lists. The
  // endpoint lives as long as this object. What the host sends on the output device reaches the
  // endpoint's receiver; what the endpoint sends arrives at the host's input device of that index.
  MidiEndpoint& AddDevice(const std::string& name);

  MidiInServices& In() override;
  MidiOutServices& Out() override;
  std::string Name() const override { return "loopback"; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv5
