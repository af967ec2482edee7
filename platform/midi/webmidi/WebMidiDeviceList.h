// The devices a list shows: the browser's ports of one direction, named as the browser names
// them. Each Refresh takes a new list (on the browser's side as well); names and opens refer to
// the last one, so an index stays the port it was listed as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/webmidi/WebMidiConfig.h"

namespace kv5 {

class WebMidiDeviceList {
 public:
  explicit WebMidiDeviceList(bool outputs) : outputs_(outputs) {}
  uint32_t Refresh();
  MidiResult Caps(uint32_t device, MidiDeviceCaps* caps);
  // Opens a listed port as handle through the browser's side and waits for it: the services'
  // result.
  MidiResult Open(const WebMidiConfig& config, uint32_t device, uintptr_t handle) const;

 private:
  int Direction() const { return outputs_ ? 1 : 0; }

  const bool outputs_;
  bool taken_ = false;
  std::vector<std::string> names_;
};

}  // namespace kv5
