// The host side's output services on its JACK client: each open device is a port of that client
// connected to another client's input port, holding that port's device lock; its stream writes
// the queued messages into the process cycles.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/DeviceLock.h"
#include "platform/midi/common/DeviceTable.h"
#include "platform/midi/jack/JackBridgePacer.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackDeviceList.h"
#include "platform/midi/jack/JackLink.h"
#include "platform/midi/jack/JackOutputStream.h"

namespace kv5 {

class JackMidiOut : public MidiOutServices {
 public:
  explicit JackMidiOut(JackLink& link);
  ~JackMidiOut() override;
  JackMidiOut(const JackMidiOut&) = delete;
  JackMidiOut& operator=(const JackMidiOut&) = delete;

  uint32_t GetNumDevs() override { return list_.Refresh(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiOutHandle* handle, uint32_t device) override;
  MidiResult Close(MidiOutHandle handle) override;
  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult Reset(MidiOutHandle handle) override;
  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override;

  // On the observer's thread: devices whose far port or server has gone vanish; what they had
  // queued comes back done at once.
  void CheckDevices();

 private:
  struct Device {
    std::unique_ptr<DeviceLock> lock;
    std::shared_ptr<JackClient> client;
    std::string theirs;
    std::unique_ptr<JackPort> port;
    std::unique_ptr<JackBridgePacer> pacer;  // towards a card behind a bridge; outlives the stream
    std::unique_ptr<JackOutputStream> stream;
    std::mutex sending;  // one producer at a time for the stream
    // Set before the stream is cancelled: a send that takes `sending` later sees it.
    std::atomic<bool> vanished{false};
    bool Gone() const { return vanished.load() || client->ServerGone(); }
  };

  JackLink& link_;
  JackDeviceSnapshot list_;
  DeviceTable<MidiOutHandle, Device> devices_;
};

}  // namespace kv5
