// The copy of a device's name from its capability record into a caller's name field.
#pragma once

#include "platform/midi/MidiServices.h"

namespace kv5 {

// Copies at most 31 characters and a terminating zero into name (whose capacity is taken to be
// 40 bytes); an empty name when the query failed.
void CopyDeviceName(MidiResult query, const MidiDeviceCaps& caps, char* name);

}  // namespace kv5
