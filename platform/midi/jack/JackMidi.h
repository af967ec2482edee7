// MIDI through a JACK server, on libjack directly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/midi/MidiBackend.h"
#include "platform/midi/MidiEndpoint.h"

namespace kv5 {

struct JackMidiConfig {
  // The host side's client name; the server appends a number when it is taken.
  std::string clientName = "TELVOR Q9 Updater";
  // How long an open waits for its connection to be in place in the running graph.
  int connectTimeoutMs = 2000;
  // The most bytes an output port writes into one process cycle; 0 for as many as its buffer
  // holds. A message longer than that travels in pieces over consecutive cycles.
  size_t cycleByteLimit = 0;
};

// The host side: the MIDI IN list shows other clients' MIDI output ports, the MIDI OUT list their
// input ports. nullptr (with a reason) when no server is running; a server is never started.
// Opening device i creates a port of our own client and connects it to that device's port; the
// open reports success once the connection is in place. Closing an output device with messages
// still queued gives them back done, unsent.
std::unique_ptr<MidiBackend> OpenJackMidi(std::string* error);
std::unique_ptr<MidiBackend> OpenJackMidi(const JackMidiConfig& config, std::string* error);

// A client of the given name with one MIDI input and one MIDI output port. The name is used
// exactly: nullptr (with a reason) when it is taken or no server is running. Send returns once
// the bytes have been written into a process cycle.
std::unique_ptr<MidiEndpoint> OpenJackEndpoint(const std::string& name, std::string* error);
// As above; only cycleByteLimit of the configuration applies.
std::unique_ptr<MidiEndpoint> OpenJackEndpoint(const std::string& name,
                                               const JackMidiConfig& config, std::string* error);

}  // namespace kv5
