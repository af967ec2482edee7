// The host side's input and output services on one JACK client: each open device is a port of
// that client connected to another client's port.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/SysexInputBuffers.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/JackDeviceList.h"
#include "platform/midi/jack/JackInputStream.h"
#include "platform/midi/jack/JackMidi.h"
#include "platform/midi/jack/JackOutputStream.h"

namespace kv5 {

class JackMidiIn : public MidiInServices {
 public:
  JackMidiIn(JackClient& client, const JackMidiConfig& config);
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

 private:
  // Destroyed in reverse: the stream stops feeding before the buffers go, the port goes last.
  struct Device {
    std::unique_ptr<JackPort> port;
    std::unique_ptr<SysexInputBuffers> buffers;
    std::unique_ptr<JackInputStream> stream;
  };
  SysexInputBuffers* Find(MidiInHandle handle);

  JackClient& client_;
  const JackMidiConfig config_;
  JackDeviceSnapshot list_;
  std::mutex lock_;
  std::map<MidiInHandle, std::unique_ptr<Device>> open_;
  MidiInHandle nextHandle_ = 1;
};

class JackMidiOut : public MidiOutServices {
 public:
  JackMidiOut(JackClient& client, const JackMidiConfig& config);
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

 private:
  struct Device {
    std::unique_ptr<JackPort> port;
    std::unique_ptr<JackOutputStream> stream;
    std::mutex sending;  // one producer at a time for the stream
  };
  Device* Find(MidiOutHandle handle);

  JackClient& client_;
  const JackMidiConfig config_;
  JackDeviceSnapshot list_;
  std::mutex lock_;
  std::map<MidiOutHandle, std::unique_ptr<Device>> open_;
  MidiOutHandle nextHandle_ = 1;
};

}  // namespace kv5
