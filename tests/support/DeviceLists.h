// The device lists of a MIDI backend as a test reads them: names in list order, and the index of
// a name.
#pragma once

#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"

namespace kv5::test {

// Names of the devices in a list, in list order; "" stands for a device whose capabilities
// cannot be read, so indexes stay those of the list.
std::vector<std::string> DeviceNames(MidiInServices& services);
std::vector<std::string> DeviceNames(MidiOutServices& services);
// The index of the first entry of that name, or -1.
int IndexOf(const std::vector<std::string>& names, const std::string& name);

}  // namespace kv5::test
