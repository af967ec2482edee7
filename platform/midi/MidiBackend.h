// One MIDI system of the platform: its input and output services together. The program uses one
// backend for its whole run.
#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiServices.h"

namespace kv5 {

class MidiBackend {
 public:
  virtual ~MidiBackend() = default;
  virtual MidiInServices& In() = 0;
  virtual MidiOutServices& Out() = 0;
  // A short lower-case name: "alsa", "jack", "winmm", "loopback", "none".
  virtual std::string Name() const = 0;
};

// The services of a platform without any MIDI system: empty lists, every open fails.
std::unique_ptr<MidiBackend> MakeNoMidiBackend();

}  // namespace kv5
