#include "platform/midi/loopback/LoopbackMidiOut.h"

namespace kv5 {

MidiResult LoopbackMidiOut::Open(MidiOutHandle* handle, uint32_t device) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  // The default output is the first device.
  if (device == MIDI_MAPPER && list_.Count() > 0) device = 0;
  LoopbackEndpoint* endpoint = list_.Device(device);
  if (endpoint == nullptr) return MMSYSERR_BADDEVICEID;
  for (const auto& open : devices_.All()) {
    if (open->endpoint == endpoint) return MMSYSERR_ALLOCATED;
  }
  const MidiOutHandle id = devices_.NewHandle();
  devices_.Insert(id, std::make_shared<Device>(Device{endpoint}));
  *handle = id;
  return MMSYSERR_NOERROR;
}

LoopbackEndpoint* LoopbackMidiOut::Find(MidiOutHandle handle) const {
  const auto device = devices_.Find(handle);
  return device ? device->endpoint : nullptr;
}

MidiResult LoopbackMidiOut::Close(MidiOutHandle handle) {
  LoopbackEndpoint* endpoint = Find(handle);
  if (endpoint == nullptr) return MMSYSERR_INVALHANDLE;
  if (endpoint->OutputBusy()) return MIDIERR_STILLPLAYING;
  devices_.Take(handle);
  return MMSYSERR_NOERROR;
}

MidiResult LoopbackMidiOut::PrepareHeader(MidiOutHandle handle, MidiHeader* header) {
  if (Find(handle) == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  header->dwFlags.fetch_or(MHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MidiResult LoopbackMidiOut::LongMsg(MidiOutHandle handle, MidiHeader* header) {
  LoopbackEndpoint* endpoint = Find(handle);
  if (endpoint == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  return endpoint->TakeOutput(header);
}

MidiResult LoopbackMidiOut::Reset(MidiOutHandle handle) {
  LoopbackEndpoint* endpoint = Find(handle);
  if (endpoint == nullptr) return MMSYSERR_INVALHANDLE;
  endpoint->CancelOutput();
  return MMSYSERR_NOERROR;
}

MidiResult LoopbackMidiOut::UnprepareHeader(MidiOutHandle handle, MidiHeader* header) {
  if (Find(handle) == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  header->dwFlags.fetch_and(~MHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
