// The host side's input and output services on one JACK client: each open device is a port of
// that client connected to another client's port, and holds that port's device lock.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/DeviceLock.h"
#include "platform/midi/common/SysexInputBuffers.h"
#include "platform/midi/jack/JackBridgePacer.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackDeviceList.h"
#include "platform/midi/jack/JackInputStream.h"
#include "platform/midi/jack/JackLink.h"
#include "platform/midi/jack/JackMidi.h"
#include "platform/midi/jack/JackOutputStream.h"

namespace kv5 {

class JackMidiIn : public MidiInServices {
 public:
  explicit JackMidiIn(JackLink& link);
  ~JackMidiIn() override;

  uint32_t GetNumDevs() override { return list_.Refresh(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return list_.Caps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override;
  MidiResult Reset(MidiInHandle handle) override;
  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override;
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override;
  MidiResult Start(MidiInHandle handle) override;
  MidiResult Stop(MidiInHandle handle) override;
  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override;
  MidiResult Close(MidiInHandle handle) override;

  // On the observer's thread: devices whose far port or server has gone vanish.
  void CheckDevices();

 private:
  // Destroyed in reverse: the stream stops feeding before the buffers go, the port before the
  // client it belongs to, the lock last.
  struct Device {
    std::unique_ptr<DeviceLock> lock;
    std::shared_ptr<JackClient> client;
    std::string theirs;
    std::unique_ptr<JackPort> port;
    std::unique_ptr<SysexInputBuffers> buffers;
    std::unique_ptr<JackInputStream> stream;
  };
  SysexInputBuffers* Find(MidiInHandle handle);

  JackLink& link_;
  JackDeviceSnapshot list_;
  std::mutex lock_;
  std::map<MidiInHandle, std::unique_ptr<Device>> open_;
  MidiInHandle nextHandle_ = 1;
};

class JackMidiOut : public MidiOutServices {
 public:
  explicit JackMidiOut(JackLink& link);
  ~JackMidiOut() override;

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
  Device* Find(MidiOutHandle handle);

  JackLink& link_;
  JackDeviceSnapshot list_;
  std::mutex lock_;
  std::map<MidiOutHandle, std::unique_ptr<Device>> open_;
  MidiOutHandle nextHandle_ = 1;
};

}  // namespace kv5
