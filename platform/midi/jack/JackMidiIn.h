// The host side's input services on its JACK client: each open device is a port of that client
// connected to another client's output port, holding that port's device lock, whose stream
// feeds the device's buffers.
#pragma once

#include <memory>
#include <string>

#include "platform/midi/common/BufferedMidiIn.h"
#include "platform/midi/common/DeviceLock.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackDeviceList.h"
#include "platform/midi/jack/JackInputStream.h"
#include "platform/midi/jack/JackLink.h"

namespace kv5 {

class JackMidiIn : public BufferedMidiIn {
 public:
  explicit JackMidiIn(JackLink& link);
  ~JackMidiIn() override;
  JackMidiIn(const JackMidiIn&) = delete;
  JackMidiIn& operator=(const JackMidiIn&) = delete;

  uint32_t GetNumDevs() override { return list_.Refresh(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override;

  // On the observer's thread: devices whose far port or server has gone vanish.
  void CheckDevices();

 private:
  // Destroyed in reverse, before the buffers of the base: the stream stops feeding first, the
  // port goes before the client it belongs to, the lock last.
  struct Device : BufferedMidiIn::Device {
    std::unique_ptr<DeviceLock> lock;
    std::shared_ptr<JackClient> client;
    std::string theirs;
    std::unique_ptr<JackPort> port;
    std::unique_ptr<JackInputStream> stream;
  };

  // The stream stops, then the port and the lock go at once, not with the last holder of the
  // device: the observer's check may hold it a moment longer.
  void Closed(BufferedMidiIn::Device& device) override;

  JackLink& link_;
  JackDeviceSnapshot list_;
};

}  // namespace kv5
