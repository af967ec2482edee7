#include <chrono>

#include "platform/midi/jack/JackMidiServices.h"

namespace kv5 {

JackMidiIn::JackMidiIn(JackLink& link) : link_(link), list_(link, /*theirOutputs=*/true) {}

JackMidiIn::~JackMidiIn() {
  std::map<MidiInHandle, std::unique_ptr<Device>> left;
  {
    std::lock_guard<std::mutex> hold(lock_);
    left.swap(open_);
  }
}

SysexInputBuffers* JackMidiIn::Find(MidiInHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = open_.find(handle);
  return found == open_.end() ? nullptr : found->second->buffers.get();
}

void JackMidiIn::CheckDevices() {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [handle, device] : open_) {
    if (!device->client->HasPort(device->theirs)) device->buffers->Vanish();
  }
}

MidiResult JackMidiIn::Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                            uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  const std::string theirs = list_.Port(device);
  if (theirs.empty()) return MMSYSERR_BADDEVICEID;
  auto opened = std::make_unique<Device>();
  opened->client = link_.Current();
  opened->theirs = theirs;
  // The device of the list entry, or none: a port that has gone since the list was filled fails.
  if (!opened->client->HasPort(theirs)) return MMSYSERR_BADDEVICEID;
  const MidiResult locked = link_.LockDevice(theirs, /*output=*/false, &opened->lock);
  if (locked != MMSYSERR_NOERROR) return locked;
  JackClient& client = *opened->client;
  jack_port_t* ours = client.RegisterMidiPort("midi_in", /*input=*/true);
  if (ours == nullptr) return MMSYSERR_ERROR;

  MidiInHandle id = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    id = nextHandle_++;
  }
  opened->port = std::make_unique<JackPort>(client, ours);
  opened->buffers = std::make_unique<SysexInputBuffers>(id, callback, instance);
  SysexInputBuffers* buffers = opened->buffers.get();
  // The stream's reader thread, not JACK's realtime one, may run the owner's callback.
  opened->stream = std::make_unique<JackInputStream>(
      client, ours, link_.Config().inputRingBytes,
      [buffers](const uint8_t* bytes, size_t count) { buffers->FeedAndDeliver(bytes, count); });
  if (!opened->stream->Attached()) return MMSYSERR_NOMEM;
  if (!client.ConnectAndWait(theirs, opened->port->Name(), ours, theirs,
                             std::chrono::milliseconds(link_.Config().connectTimeoutMs))) {
    return MMSYSERR_ERROR;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    open_[id] = std::move(opened);
  }
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult JackMidiIn::Reset(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->Reset() : MMSYSERR_INVALHANDLE;
}

MidiResult JackMidiIn::PrepareHeader(MidiInHandle handle, MidiHeader* header) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->PrepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult JackMidiIn::AddBuffer(MidiInHandle handle, MidiHeader* header) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->AddBuffer(header) : MMSYSERR_INVALHANDLE;
}

MidiResult JackMidiIn::Start(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->Start() : MMSYSERR_INVALHANDLE;
}

MidiResult JackMidiIn::Stop(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->Stop() : MMSYSERR_INVALHANDLE;
}

MidiResult JackMidiIn::UnprepareHeader(MidiInHandle handle, MidiHeader* header) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->UnprepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult JackMidiIn::Close(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  if (buffers == nullptr) return MMSYSERR_INVALHANDLE;
  // Not under lock_: a hand-back that is still running may call AddBuffer, which takes it.
  const MidiResult ready = buffers->CanClose();
  if (ready != MMSYSERR_NOERROR) return ready;
  std::unique_ptr<Device> closing;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = open_.find(handle);
    if (found == open_.end()) return MMSYSERR_INVALHANDLE;
    closing = std::move(found->second);
    open_.erase(found);
  }
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
