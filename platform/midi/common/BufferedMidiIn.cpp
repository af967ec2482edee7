#include "platform/midi/common/BufferedMidiIn.h"

namespace kv5 {

MidiResult BufferedMidiIn::Reset(MidiInHandle handle) {
  const auto device = devices_.Find(handle);
  return device ? device->buffers->Reset() : MMSYSERR_INVALHANDLE;
}

MidiResult BufferedMidiIn::PrepareHeader(MidiInHandle handle, MidiHeader* header) {
  const auto device = devices_.Find(handle);
  return device ? device->buffers->PrepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult BufferedMidiIn::AddBuffer(MidiInHandle handle, MidiHeader* header) {
  const auto device = devices_.Find(handle);
  return device ? device->buffers->AddBuffer(header) : MMSYSERR_INVALHANDLE;
}

MidiResult BufferedMidiIn::Start(MidiInHandle handle) {
  const auto device = devices_.Find(handle);
  return device ? device->buffers->Start() : MMSYSERR_INVALHANDLE;
}

MidiResult BufferedMidiIn::Stop(MidiInHandle handle) {
  const auto device = devices_.Find(handle);
  return device ? device->buffers->Stop() : MMSYSERR_INVALHANDLE;
}

MidiResult BufferedMidiIn::UnprepareHeader(MidiInHandle handle, MidiHeader* header) {
  const auto device = devices_.Find(handle);
  return device ? device->buffers->UnprepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult BufferedMidiIn::Close(MidiInHandle handle) {
  std::shared_ptr<Device> device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  // Not under the table's lock: a hand-back that is still running may queue a buffer, which
  // looks the device up.
  const MidiResult ready = device->buffers->CanClose();
  if (ready != MMSYSERR_NOERROR) return ready;
  // No buffer is queued, so stopping makes no callback; bytes fed afterwards are dropped.
  device->buffers->Stop();
  if (!devices_.Take(handle)) return MMSYSERR_INVALHANDLE;
  Closed(*device);
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
