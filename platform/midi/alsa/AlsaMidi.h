// MIDI through the ALSA sequencer, on libasound directly.
#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/MidiEndpoint.h"
#include "platform/midi/alsa/AlsaConfig.h"

namespace kv5 {

// The host side: the MIDI IN list shows other clients' readable ports, the MIDI OUT list their
// writable ports. nullptr (with a reason) when the sequencer cannot be opened.
std::unique_ptr<MidiBackend> OpenAlsaMidi(std::string* error, const AlsaConfig& config = {});

// A sequencer client of the given name with one input and one output port.
std::unique_ptr<MidiEndpoint> OpenAlsaEndpoint(const std::string& name, std::string* error,
                                               const AlsaConfig& config = {});

}  // namespace kv5
