// The output services over the browser's output ports: each open device is a port of the access
// the page was granted, registered with the device observer under its handle.
#pragma once

#include <atomic>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/DeviceTable.h"
#include "platform/midi/webmidi/WebMidiConfig.h"
#include "platform/midi/webmidi/WebMidiDeviceList.h"
#include "platform/midi/webmidi/WebMidiDeviceObserver.h"

namespace kv5 {

class WebMidiOut : public MidiOutServices {
 public:
  explicit WebMidiOut(const WebMidiConfig& config) : config_(config), list_(/*outputs=*/true) {}
  ~WebMidiOut() override;

  uint32_t GetNumDevs() override { return list_.Refresh(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiOutHandle* handle, uint32_t device) override;
  MidiResult Close(MidiOutHandle handle) override;
  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override;
  // The browser takes the whole message at once (it has no partial sends and no backpressure):
  // the header is done when LongMsg returns.
  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult Reset(MidiOutHandle handle) override;
  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override;

 private:
  struct Device : WebMidiOpenDevice {
    void Gone() override { gone = true; }
    MidiOutHandle handle = 0;
    std::atomic<bool> gone{false};
  };
  // The port is closed on the browser's side, and the observer no longer reaches the device.
  static void Closed(const Device& device);

  const WebMidiConfig config_;
  WebMidiDeviceList list_;
  DeviceTable<MidiOutHandle, Device> devices_;
};

}  // namespace kv5
