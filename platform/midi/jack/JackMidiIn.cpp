#include "platform/midi/jack/JackMidiIn.h"

#include <chrono>

namespace kv5 {

JackMidiIn::JackMidiIn(JackLink& link) : link_(link), list_(link, /*theirOutputs=*/true) {}

JackMidiIn::~JackMidiIn() {
  devices_.TakeAll();
}

void JackMidiIn::CheckDevices() {
  for (const auto& each : devices_.All()) {
    auto& device = static_cast<Device&>(*each);
    if (!device.client->HasPort(device.theirs)) device.buffers->Vanish();
  }
}

void JackMidiIn::Closed(BufferedMidiIn::Device& closed) {
  auto& device = static_cast<Device&>(closed);
  device.stream.reset();
  device.port.reset();
  device.lock.reset();
}

MidiResult JackMidiIn::Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                            uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  const std::string theirs = list_.Port(device);
  if (theirs.empty()) return MMSYSERR_BADDEVICEID;
  std::shared_ptr<JackClient> client = link_.Current();
  // The device of the list entry, or none: a port that has gone since the list was filled fails.
  if (!client->HasPort(theirs)) return MMSYSERR_BADDEVICEID;
  MidiInHandle id = 0;
  auto opened = NewDevice<Device>(callback, instance, &id);
  opened->client = client;
  opened->theirs = theirs;
  const MidiResult locked = link_.LockDevice(theirs, /*output=*/false, &opened->lock);
  if (locked != MMSYSERR_NOERROR) return locked;
  jack_port_t* ours = client->RegisterMidiPort("midi_in", /*input=*/true);
  if (ours == nullptr) return MMSYSERR_ERROR;
  opened->port = std::make_unique<JackPort>(*client, ours);
  SysexInputBuffers* buffers = opened->buffers.get();
  // The stream's reader thread, not JACK's realtime one, may run the owner's callback.
  opened->stream = std::make_unique<JackInputStream>(
      *client, ours, link_.Config().inputRingBytes,
      [buffers](const uint8_t* bytes, size_t count) { buffers->FeedAndDeliver(bytes, count); });
  if (!opened->stream->Attached()) return MMSYSERR_NOMEM;
  if (!client->ConnectAndWait(theirs, opened->port->Name(), ours, theirs,
                              std::chrono::milliseconds(link_.Config().connectTimeoutMs))) {
    return MMSYSERR_ERROR;
  }
  devices_.Insert(id, std::move(opened));
  *handle = id;
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
