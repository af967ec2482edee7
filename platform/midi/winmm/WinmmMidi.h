// The Windows multimedia MIDI system: the services pass through to midiIn* and midiOut*.
#pragma once

#include <memory>

#include "platform/midi/MidiBackend.h"

namespace kv5 {

std::unique_ptr<MidiBackend> OpenWinmmMidi();

std::unique_ptr<MidiInServices> MakeWinmmMidiIn();
std::unique_ptr<MidiOutServices> MakeWinmmMidiOut();

}  // namespace kv5
