// The input services over the browser's input ports: each open device is a port of the access the
// page was granted, registered with the device observer under its handle. The browser's messages
// go into the port's buffers in the turn that delivers them, callbacks and all: the reply path
// waits for no timer.
#pragma once

#include "platform/midi/common/BufferedMidiIn.h"
#include "platform/midi/webmidi/WebMidiConfig.h"
#include "platform/midi/webmidi/WebMidiDeviceList.h"
#include "platform/midi/webmidi/WebMidiDeviceObserver.h"

namespace kv5 {

class WebMidiIn : public BufferedMidiIn {
 public:
  explicit WebMidiIn(const WebMidiConfig& config) : config_(config), list_(/*outputs=*/false) {}
  ~WebMidiIn() override;

  uint32_t GetNumDevs() override { return list_.Refresh(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override;

 private:
  struct Device : BufferedMidiIn::Device, WebMidiOpenDevice {
    void Received(const uint8_t* bytes, size_t count) override {
      buffers->FeedAndDeliver(bytes, count);
    }
    void Gone() override { buffers->Vanish(); }
    MidiInHandle handle = 0;
  };
  // The port is closed on the browser's side, and the observer no longer reaches the device.
  void Closed(BufferedMidiIn::Device& device) override;

  const WebMidiConfig config_;
  WebMidiDeviceList list_;
};

}  // namespace kv5
