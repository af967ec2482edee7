// MIDI through the browser's Web MIDI, over the access the page was granted with SysEx (the page
// hands it to the backend's browser side: Module.kv5Midi.setAccess). The MIDI IN list shows the
// access's inputs, the MIDI OUT list its outputs, by the names the browser gives them (repeated
// names numbered); an index opens the port it was listed as, or fails when that port has gone.
// A port that disconnects while open vanishes as the services describe.
#pragma once

#include <memory>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/webmidi/WebMidiConfig.h"

namespace kv5 {

std::unique_ptr<MidiBackend> OpenWebMidi(const WebMidiConfig& config = {});

}  // namespace kv5
