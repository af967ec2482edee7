#include "platform/midi/loopback/LoopbackMidi.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/midi/loopback/LoopbackDevice.h"

namespace kv5 {

// The devices and the handles the host opened on them. The lock guards the tables only: calls
// into a device's input buffers that wait for its callback (Stop, Reset, closing) are made with
// the lock released, since that callback queues its buffer again through these services.
struct LoopbackMidi::Impl {
  class InSide;
  class OutSide;

  Impl();
  ~Impl();

  std::shared_ptr<SysexInputBuffers> FindInput(MidiInHandle handle) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = inputs.find(handle);
    return found != inputs.end() ? found->second.buffers : nullptr;
  }

  LoopbackDevice* FindOutput(MidiOutHandle handle) {
    std::lock_guard<std::mutex> hold(lock);
    auto found = outputs.find(handle);
    return found != outputs.end() ? found->second : nullptr;
  }

  MidiResult Caps(uint32_t device, MidiDeviceCaps* caps) {
    std::lock_guard<std::mutex> hold(lock);
    if (device >= devices.size()) return MMSYSERR_BADDEVICEID;
    std::memset(caps->szPname, 0, sizeof caps->szPname);
    const std::string name = devices[device]->Name();
    std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname - 1));
    return MMSYSERR_NOERROR;
  }

  struct OpenInput {
    std::shared_ptr<SysexInputBuffers> buffers;
    LoopbackDevice* device = nullptr;
  };

  std::mutex lock;
  std::vector<std::unique_ptr<LoopbackDevice>> devices;
  std::map<MidiInHandle, OpenInput> inputs;
  std::map<MidiOutHandle, LoopbackDevice*> outputs;
  uintptr_t nextHandle = 1;
  std::unique_ptr<InSide> in;
  std::unique_ptr<OutSide> out;
};

class LoopbackMidi::Impl::InSide : public MidiInServices {
 public:
  explicit InSide(Impl& impl) : impl_(impl) {}

  uint32_t GetNumDevs() override {
    std::lock_guard<std::mutex> hold(impl_.lock);
    return static_cast<uint32_t>(impl_.devices.size());
  }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return impl_.Caps(device, caps);
  }

  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override {
    if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
    LoopbackDevice* target = nullptr;
    std::shared_ptr<SysexInputBuffers> buffers;
    {
      std::lock_guard<std::mutex> hold(impl_.lock);
      if (device >= impl_.devices.size()) return MMSYSERR_BADDEVICEID;
      target = impl_.devices[device].get();
      for (const auto& entry : impl_.inputs) {
        if (entry.second.device == target) return MMSYSERR_ALLOCATED;
      }
      const MidiInHandle opened = impl_.nextHandle++;
      buffers = std::make_shared<SysexInputBuffers>(opened, callback, instance);
      impl_.inputs[opened] = OpenInput{buffers, target};
      *handle = opened;
    }
    // Attached outside the table lock: a feeder holds the device's input lock while it runs the
    // host's callback, which takes the table lock. The input is not started yet.
    target->AttachInput(buffers);
    return MMSYSERR_NOERROR;
  }

  MidiResult Reset(MidiInHandle handle) override {
    auto buffers = impl_.FindInput(handle);
    return buffers ? buffers->Reset() : MMSYSERR_INVALHANDLE;
  }
  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override {
    auto buffers = impl_.FindInput(handle);
    return buffers ? buffers->PrepareHeader(header) : MMSYSERR_INVALHANDLE;
  }
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override {
    auto buffers = impl_.FindInput(handle);
    return buffers ? buffers->AddBuffer(header) : MMSYSERR_INVALHANDLE;
  }
  MidiResult Start(MidiInHandle handle) override {
    auto buffers = impl_.FindInput(handle);
    return buffers ? buffers->Start() : MMSYSERR_INVALHANDLE;
  }
  MidiResult Stop(MidiInHandle handle) override {
    auto buffers = impl_.FindInput(handle);
    return buffers ? buffers->Stop() : MMSYSERR_INVALHANDLE;
  }
  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override {
    auto buffers = impl_.FindInput(handle);
    return buffers ? buffers->UnprepareHeader(header) : MMSYSERR_INVALHANDLE;
  }

  MidiResult Close(MidiInHandle handle) override {
    auto buffers = impl_.FindInput(handle);
    if (!buffers) return MMSYSERR_INVALHANDLE;
    const MidiResult busy = buffers->CanClose();
    if (busy != MMSYSERR_NOERROR) return busy;
    // No buffer is queued, so stopping makes no callback; afterwards fed bytes are dropped.
    buffers->Stop();
    LoopbackDevice* device = nullptr;
    {
      std::lock_guard<std::mutex> hold(impl_.lock);
      auto found = impl_.inputs.find(handle);
      if (found == impl_.inputs.end()) return MMSYSERR_INVALHANDLE;
      device = found->second.device;
      impl_.inputs.erase(found);
    }
    // Detached outside the table lock, as Open attaches.
    device->DetachInput(buffers);
    // The last reference goes here, outside the lock: destruction joins the delivery thread.
    buffers.reset();
    return MMSYSERR_NOERROR;
  }

 private:
  Impl& impl_;
};

class LoopbackMidi::Impl::OutSide : public MidiOutServices {
 public:
  explicit OutSide(Impl& impl) : impl_(impl) {}

  uint32_t GetNumDevs() override {
    std::lock_guard<std::mutex> hold(impl_.lock);
    return static_cast<uint32_t>(impl_.devices.size());
  }

  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return impl_.Caps(device, caps);
  }

  MidiResult Open(MidiOutHandle* handle, uint32_t device) override {
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> hold(impl_.lock);
    // The default output is the first device.
    if (device == MIDI_MAPPER && !impl_.devices.empty()) device = 0;
    if (device >= impl_.devices.size()) return MMSYSERR_BADDEVICEID;
    LoopbackDevice* target = impl_.devices[device].get();
    for (const auto& entry : impl_.outputs) {
      if (entry.second == target) return MMSYSERR_ALLOCATED;
    }
    const MidiOutHandle opened = impl_.nextHandle++;
    impl_.outputs[opened] = target;
    *handle = opened;
    return MMSYSERR_NOERROR;
  }

  MidiResult Close(MidiOutHandle handle) override {
    std::lock_guard<std::mutex> hold(impl_.lock);
    auto found = impl_.outputs.find(handle);
    if (found == impl_.outputs.end()) return MMSYSERR_INVALHANDLE;
    if (found->second->OutputBusy()) return MIDIERR_STILLPLAYING;
    impl_.outputs.erase(found);
    return MMSYSERR_NOERROR;
  }

  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    if (impl_.FindOutput(handle) == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    header->dwFlags.fetch_or(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override {
    LoopbackDevice* device = impl_.FindOutput(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    return device->TakeOutput(header);
  }

  MidiResult Reset(MidiOutHandle handle) override {
    LoopbackDevice* device = impl_.FindOutput(handle);
    if (device == nullptr) return MMSYSERR_INVALHANDLE;
    device->CancelOutput();
    return MMSYSERR_NOERROR;
  }

  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    if (impl_.FindOutput(handle) == nullptr) return MMSYSERR_INVALHANDLE;
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->dwFlags.fetch_and(~MHDR_PREPARED);
    return MMSYSERR_NOERROR;
  }

 private:
  Impl& impl_;
};

LoopbackMidi::Impl::Impl()
    : in(std::make_unique<InSide>(*this)), out(std::make_unique<OutSide>(*this)) {}

LoopbackMidi::Impl::~Impl() {
  // Inputs the host left open stop delivering before the devices go. They are detached outside
  // the table lock: a feeder may be running the host's callback, which takes that lock.
  std::vector<OpenInput> open;
  {
    std::lock_guard<std::mutex> hold(lock);
    for (auto& entry : inputs) open.push_back(std::move(entry.second));
    inputs.clear();
    outputs.clear();
  }
  for (const OpenInput& input : open) input.device->DetachInput(input.buffers);
  open.clear();
  devices.clear();
}

LoopbackMidi::LoopbackMidi() : impl_(std::make_unique<Impl>()) {}

LoopbackMidi::~LoopbackMidi() = default;

MidiEndpoint& LoopbackMidi::AddDevice(const std::string& name) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->devices.push_back(std::make_unique<LoopbackDevice>(name));
  return *impl_->devices.back();
}

MidiInServices& LoopbackMidi::In() {
  return *impl_->in;
}
MidiOutServices& LoopbackMidi::Out() {
  return *impl_->out;
}

}  // namespace kv5
