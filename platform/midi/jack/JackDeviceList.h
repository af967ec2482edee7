// The devices the lists show: the MIDI ports of other clients, one direction at a time.
#pragma once

#include <jack/jack.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackDeviceNames.h"
#include "platform/midi/jack/JackLink.h"

namespace kv5 {

// Other clients' MIDI output ports (theirOutputs) or input ports, named and ordered as
// NameJackDevices does; the ports of other copies of the updater are left out.
std::vector<JackDevice> ListJackDevices(jack_client_t* client, bool theirOutputs,
                                        const std::string& updaterName);

// The device list of one direction. GetNumDevs takes a new snapshot (looking for a server again
// when it had gone); names and opens refer to the last one, so an index stays the device it was
// listed as.
class JackDeviceSnapshot {
 public:
  JackDeviceSnapshot(JackLink& link, bool theirOutputs)
      : link_(link), theirOutputs_(theirOutputs) {}
  uint32_t Refresh();
  MidiResult Caps(uint32_t device, MidiDeviceCaps* caps);
  // The full name of the device's port; empty for an index outside the list.
  std::string Port(uint32_t device);

 private:
  void RefreshLocked();

  JackLink& link_;
  const bool theirOutputs_;
  std::mutex lock_;
  bool taken_ = false;
  std::vector<JackDevice> devices_;
};

}  // namespace kv5
