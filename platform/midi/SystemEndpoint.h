// A MIDI endpoint published on the platform's MIDI system: a client with one input port and one
// output port under the given name, which other programs (the updater) see in their device lists.
// The virtual unit's program uses it to appear as "TELVOR Q9".
#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiEndpoint.h"
#include "platform/midi/SystemMidi.h"

namespace kv5 {

// nullptr with a reason in *error when the system is not built in or cannot be reached.
std::unique_ptr<MidiEndpoint> OpenSystemEndpoint(MidiSystem system, const std::string& name,
                                                 std::string* error);

}  // namespace kv5
