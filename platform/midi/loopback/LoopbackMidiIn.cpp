#include "platform/midi/loopback/LoopbackMidiIn.h"

namespace kv5 {

LoopbackMidiIn::~LoopbackMidiIn() {
  for (const auto& device : devices_.TakeAll()) Closed(*device);
}

MidiResult LoopbackMidiIn::Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                                uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  LoopbackEndpoint* endpoint = list_.Device(device);
  if (endpoint == nullptr) return MMSYSERR_BADDEVICEID;
  for (const auto& open : devices_.All()) {
    if (static_cast<const Device&>(*open).endpoint == endpoint) return MMSYSERR_ALLOCATED;
  }
  MidiInHandle id = 0;
  auto opened = NewDevice<Device>(callback, instance, &id);
  opened->endpoint = endpoint;
  SysexInputBuffers* buffers = opened->buffers.get();
  devices_.Insert(id, std::move(opened));
  // The input is not started yet: what the endpoint sends before is dropped.
  endpoint->AttachInput(buffers);
  *handle = id;
  return MMSYSERR_NOERROR;
}

void LoopbackMidiIn::Closed(BufferedMidiIn::Device& device) {
  static_cast<Device&>(device).endpoint->DetachInput(device.buffers.get());
}

}  // namespace kv5
