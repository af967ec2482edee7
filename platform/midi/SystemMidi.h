// Which MIDI system the programs use: winmm on Windows; elsewhere the ALSA sequencer when it opens,
// otherwise JACK when a server is running, otherwise none (empty lists). Nothing here reads the
// environment.
#pragma once

#include <memory>
#include <string_view>

#include "platform/midi/MidiBackend.h"

namespace kv5 {

enum class MidiSystem { Automatic, Alsa, Jack, WinMM, None };

// Opens the named system; nullptr when it is not built in or cannot be reached.
std::unique_ptr<MidiBackend> OpenMidiSystem(MidiSystem system);

// The window's choice: Automatic as described above; never nullptr (falls back to none).
std::unique_ptr<MidiBackend> OpenDefaultMidiSystem();

}  // namespace kv5
