// MIDI through a JACK server, on libjack directly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/MidiEndpoint.h"
#include "platform/midi/jack/JackConfig.h"

namespace kv5 {

// The host side: the MIDI IN list shows other clients' MIDI output ports, the MIDI OUT list their
// input ports. nullptr (with a reason) when no server is running; a server is never started.
// Opening device i creates a port of our own client and connects it to that device's port; the
// open reports success once the connection is in place. Closing an output device with messages
// still queued gives them back done, unsent. A device whose port unregisters, or whose server
// stops, vanishes as the services describe; a server that stopped is looked for again when the
// lists are filled, so a restarted one is found.
std::unique_ptr<MidiBackend> OpenJackMidi(std::string* error);
std::unique_ptr<MidiBackend> OpenJackMidi(const JackConfig& config, std::string* error);

// A client of the given name with one MIDI input and one MIDI output port. The name is used
// exactly: nullptr (with a reason) when it is taken or no server is running. Send returns once
// the bytes have been written into a process cycle.
std::unique_ptr<MidiEndpoint> OpenJackEndpoint(const std::string& name, std::string* error);
// As above; the sizes and limits of the configuration apply, not its names.
std::unique_ptr<MidiEndpoint> OpenJackEndpoint(const std::string& name, const JackConfig& config,
                                               std::string* error);

}  // namespace kv5
