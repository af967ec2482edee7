#include "platform/midi/jack/JackDeviceList.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kv5 {

std::vector<JackDevice> ListJackDevices(jack_client_t* client, bool theirOutputs,
                                        const std::string& updaterName) {
  std::vector<std::string> ports;
  const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      theirOutputs ? JackPortIsOutput : JackPortIsInput);
  if (names != nullptr) {
    for (const char** each = names; *each != nullptr; ++each) {
      jack_port_t* port = jack_port_by_name(client, *each);
      if (port != nullptr && jack_port_is_mine(client, port)) continue;
      if (IsUpdaterClient(ClientOfPort(*each), updaterName)) continue;
      ports.emplace_back(*each);
    }
    jack_free(names);
  }
  return NameJackDevices(std::move(ports));
}

uint32_t JackDeviceSnapshot::Refresh() {
  std::lock_guard<std::mutex> hold(lock_);
  RefreshLocked();
  return static_cast<uint32_t>(devices_.size());
}

void JackDeviceSnapshot::RefreshLocked() {
  taken_ = true;
  const std::shared_ptr<JackClient> client = link_.Reconnect();
  if (client->ServerGone()) {
    devices_.clear();
    return;
  }
  devices_ = ListJackDevices(client->Get(), theirOutputs_, link_.Config().clientName);
}

MidiResult JackDeviceSnapshot::Caps(uint32_t device, MidiDeviceCaps* caps) {
  if (caps == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> hold(lock_);
  if (!taken_) RefreshLocked();
  if (device >= devices_.size()) return MMSYSERR_BADDEVICEID;
  const std::string& name = devices_[device].name;
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname - 1));
  return MMSYSERR_NOERROR;
}

std::string JackDeviceSnapshot::Port(uint32_t device) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!taken_) RefreshLocked();
  return device < devices_.size() ? devices_[device].port : std::string();
}

}  // namespace kv5
