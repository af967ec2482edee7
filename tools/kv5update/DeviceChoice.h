// Picks a device list entry from what the user typed: a list index or an exact device name.
#pragma once

#include <string>
#include <vector>

namespace kv5 {

struct DeviceLookup {
  int index = -1;  // the entry, or -1 with the reason in error
  std::string error;
};

// A text of digits that is a valid index picks that entry; otherwise the one entry whose name is
// exactly the text. listName ("MIDI IN") goes into the error messages.
DeviceLookup FindDevice(const std::vector<std::string>& entries, const std::string& wanted,
                        const std::string& listName);

}  // namespace kv5
