// The host's input services on the loopback devices: an open device's buffers are attached to
// its endpoint, whose messages feed them. One open input per device.
#pragma once

#include "platform/midi/common/BufferedMidiIn.h"
#include "platform/midi/loopback/LoopbackDeviceList.h"

namespace kv5 {

class LoopbackMidiIn : public BufferedMidiIn {
 public:
  explicit LoopbackMidiIn(LoopbackDeviceList& list) : list_(list) {}
  // Inputs the host left open stop being fed before the devices go.
  ~LoopbackMidiIn() override;
  LoopbackMidiIn(const LoopbackMidiIn&) = delete;
  LoopbackMidiIn& operator=(const LoopbackMidiIn&) = delete;

  uint32_t GetNumDevs() override { return list_.Count(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override;

 private:
  struct Device : BufferedMidiIn::Device {
    LoopbackEndpoint* endpoint = nullptr;
  };
  // Detached outside the table's lock: a feeder holds the endpoint's input lock while it runs
  // the host's callback, which looks the device up in the table.
  void Closed(BufferedMidiIn::Device& device) override;

  LoopbackDeviceList& list_;
};

}  // namespace kv5
