#include "tools/kv5update/BusyDeviceWatch.h"

namespace kv5 {

namespace {

// What the input and output services have alike, passed through to the backend's; Opened notes
// whether an open found the device held by another program.
template <typename Services, typename Handle>
class PassThrough : public Services {
 public:
  PassThrough(Services& services, std::atomic<bool>& busy) : services_(services), busy_(busy) {}
  uint32_t GetNumDevs() override { return services_.GetNumDevs(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return services_.GetDevCaps(device, caps);
  }
  MidiResult Reset(Handle handle) override { return services_.Reset(handle); }
  MidiResult PrepareHeader(Handle handle, MidiHeader* header) override {
    return services_.PrepareHeader(handle, header);
  }
  MidiResult UnprepareHeader(Handle handle, MidiHeader* header) override {
    return services_.UnprepareHeader(handle, header);
  }
  MidiResult Close(Handle handle) override { return services_.Close(handle); }

 protected:
  MidiResult Opened(MidiResult result) {
    busy_ = result == MMSYSERR_ALLOCATED;
    return result;
  }

  Services& services_;

 private:
  std::atomic<bool>& busy_;
};

}  // namespace

class BusyDeviceWatch::InWatch : public PassThrough<MidiInServices, MidiInHandle> {
 public:
  using PassThrough::PassThrough;
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override {
    return Opened(services_.Open(handle, device, callback, instance));
  }
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override {
    return services_.AddBuffer(handle, header);
  }
  MidiResult Start(MidiInHandle handle) override { return services_.Start(handle); }
  MidiResult Stop(MidiInHandle handle) override { return services_.Stop(handle); }
};

class BusyDeviceWatch::OutWatch : public PassThrough<MidiOutServices, MidiOutHandle> {
 public:
  using PassThrough::PassThrough;
  MidiResult Open(MidiOutHandle* handle, uint32_t device) override {
    return Opened(services_.Open(handle, device));
  }
  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override {
    return services_.LongMsg(handle, header);
  }
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
