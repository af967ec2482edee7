// The devices a list shows: the browser's ports of one direction, named as the browser names
// them. Each Refresh takes a new list (on the browser's side as well); names and opens refer to
// the last one, so an index stays the port it was listed as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"

namespace kv5 {

class WebMidiDeviceList {
 public:
  explicit WebMidiDeviceList(bool outputs) : outputs_(outputs) {}
  uint32_t Refresh();
  MidiResult Caps(uint32_t device, MidiDeviceCaps* caps);
  bool Listed(uint32_t device) const { return device < names_.size(); }
  int Direction() const { return outputs_ ? 1 : 0; }

 private:
  const bool outputs_;
  bool taken_ = false;
  std::vector<std::string> names_;
};

}  // namespace kv5
