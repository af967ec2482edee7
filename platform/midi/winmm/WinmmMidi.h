// The Windows multimedia MIDI system: the services pass through to midiIn* and midiOut*.
#pragma once

#include <memory>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/winmm/WinmmConfig.h"

namespace kv5 {

std::unique_ptr<MidiBackend> OpenWinmmMidi(const WinmmConfig& config = {});

// The driver's input services as winmm gives them; the backend puts RelayedMidiIn in front.
std::unique_ptr<MidiInServices> MakeWinmmMidiIn();

}  // namespace kv5
