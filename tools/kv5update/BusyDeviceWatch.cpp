#include "tools/kv5update/BusyDeviceWatch.h"

namespace kv5 {

class BusyDeviceWatch::InWatch : public MidiInServices {
 public:
  InWatch(MidiInServices& in, std::atomic<bool>& busy) : in_(in), busy_(busy) {}
  uint32_t GetNumDevs() override { return in_.GetNumDevs(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return in_.GetDevCaps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override {
    const MidiResult result = in_.Open(handle, device, callback, instance);
    busy_ = result == MMSYSERR_ALLOCATED;
    return result;
  }
  MidiResult Reset(MidiInHandle handle) override { return in_.Reset(handle); }
  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override {
    return in_.PrepareHeader(handle, header);
  }
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override {
    return in_.AddBuffer(handle, header);
  }
  MidiResult Start(MidiInHandle handle) override { return in_.Start(handle); }
  MidiResult Stop(MidiInHandle handle) override { return in_.Stop(handle); }
  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override {
    return in_.UnprepareHeader(handle, header);
  }
  MidiResult Close(MidiInHandle handle) override { return in_.Close(handle); }

 private:
  MidiInServices& in_;
  std::atomic<bool>& busy_;
};

class BusyDeviceWatch::OutWatch : public MidiOutServices {
 public:
  OutWatch(MidiOutServices& out, std::atomic<bool>& busy) : out_(out), busy_(busy) {}
  uint32_t GetNumDevs() override { return out_.GetNumDevs(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return out_.GetDevCaps(device, caps);
  }
  MidiResult Open(MidiOutHandle* handle, uint32_t device) override {
    const MidiResult result = out_.Open(handle, device);
    busy_ = result == MMSYSERR_ALLOCATED;
    return result;
  }
  MidiResult Close(MidiOutHandle handle) override { return out_.Close(handle); }
  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    return out_.PrepareHeader(handle, header);
  }
  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override {
    return out_.LongMsg(handle, header);
  }
  MidiResult Reset(MidiOutHandle handle) override { return out_.Reset(handle); }
  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override {
    return out_.UnprepareHeader(handle, header);
  }

 private:
  MidiOutServices& out_;
  std::atomic<bool>& busy_;
};

BusyDeviceWatch::BusyDeviceWatch(MidiBackend& backend)
    : backend_(backend),
      in_(std::make_unique<InWatch>(backend.In(), busy_)),
      out_(std::make_unique<OutWatch>(backend.Out(), busy_)) {}

BusyDeviceWatch::~BusyDeviceWatch() = default;

MidiInServices& BusyDeviceWatch::In() {
  return *in_;
}

MidiOutServices& BusyDeviceWatch::Out() {
  return *out_;
}

}  // namespace kv5
