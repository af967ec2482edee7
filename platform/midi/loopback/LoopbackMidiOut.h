// The host's output services on the loopback devices: a message sent on an open device is
// delivered to its endpoint's receiver, and its header marked done once the receiver returned.
// One open output per device.
#pragma once

#include <memory>

#include "platform/midi/common/DeviceTable.h"
#include "platform/midi/loopback/LoopbackDeviceList.h"

namespace kv5 {

class LoopbackMidiOut : public MidiOutServices {
 public:
  explicit LoopbackMidiOut(LoopbackDeviceList& list) : list_(list) {}

  uint32_t GetNumDevs() override { return list_.Count(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiOutHandle* handle, uint32_t device) override;
  MidiResult Close(MidiOutHandle handle) override;
  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult Reset(MidiOutHandle handle) override;
  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override;

 private:
  struct Device {
    LoopbackEndpoint* endpoint;  // lives as long as the list
  };
  LoopbackEndpoint* Find(MidiOutHandle handle) const;

  LoopbackDeviceList& list_;
  DeviceTable<MidiOutHandle, Device> devices_;
};

}  // namespace kv5
