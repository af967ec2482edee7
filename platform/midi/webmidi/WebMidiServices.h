// The input and output services over the browser's ports: each open device is a port of the
// access the page was granted, registered with the device observer under its handle.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/MidiServices.h"
#include "platform/midi/common/SysexInputBuffers.h"
#include "platform/midi/webmidi/WebMidiConfig.h"
#include "platform/midi/webmidi/WebMidiDeviceList.h"
#include "platform/midi/webmidi/WebMidiDeviceObserver.h"

namespace kv5 {

// Opens a listed port of the direction as handle through the browser's side: the services' result.
MidiResult OpenBrowserPort(const WebMidiConfig& config, const WebMidiDeviceList& list,
                           uint32_t device, uintptr_t handle);

class WebMidiIn : public MidiInServices {
 public:
  explicit WebMidiIn(const WebMidiConfig& config) : config_(config), list_(/*outputs=*/false) {}
  ~WebMidiIn() override;

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
  // The browser's messages go into the buffers in the turn that delivers them, callbacks and
  // all: the reply path waits for no timer.
  struct Device : WebMidiOpenDevice {
    Device(MidiInHandle handle, MidiInProc callback, uintptr_t instance)
        : buffers(handle, callback, instance) {}
    void Received(const uint8_t* bytes, size_t count) override {
      buffers.FeedAndDeliver(bytes, count);
    }
    void Gone() override { buffers.Vanish(); }
    SysexInputBuffers buffers;
  };
  SysexInputBuffers* Find(MidiInHandle handle);

  const WebMidiConfig config_;
  WebMidiDeviceList list_;
  std::mutex lock_;
  std::map<MidiInHandle, std::unique_ptr<Device>> open_;
};

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
    std::atomic<bool> gone{false};
  };
  Device* Find(MidiOutHandle handle);

  const WebMidiConfig config_;
  WebMidiDeviceList list_;
  std::mutex lock_;
  std::map<MidiOutHandle, std::unique_ptr<Device>> open_;
};

}  // namespace kv5
