#include "platform/midi/alsa/AlsaMidiIn.h"

#include <string>

#include "platform/midi/alsa/AlsaSeqClient.h"

namespace kv5 {

AlsaMidiIn::~AlsaMidiIn() {
  for (auto& [handle, device] : devices_) Release(*device);
}

void AlsaMidiIn::Deliver(int port, snd_seq_addr_t source, const uint8_t* bytes, size_t count) {
  std::shared_ptr<Device> device;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = byPort_.find(port);
    if (found == byPort_.end()) return;
    device = found->second;
  }
  if (source.client != device->sourceClient || source.port != device->sourcePort) return;
  // Without the lock, which the owner's callback takes when it queues its buffer again: the
  // callback may run here, on the reader's thread, when the device is not delivering already.
  // A device closed meanwhile has stopped its input and refuses the bytes.
  device->buffers->FeedAndDeliver(bytes, count);
}

void AlsaMidiIn::MarkLoss() {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [port, device] : byPort_) device->buffers->MarkLoss();
}

std::shared_ptr<AlsaMidiIn::Device> AlsaMidiIn::Find(MidiInHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = devices_.find(handle);
  return found == devices_.end() ? nullptr : found->second;
}

void AlsaMidiIn::Release(const Device& device) {
  snd_seq_disconnect_from(seq_, device.port, device.sourceClient, device.sourcePort);
  snd_seq_delete_simple_port(seq_, device.port);
}

void AlsaMidiIn::Vanish(int client, int port) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [handle, device] : devices_) {
    if (device->sourceClient == client && (port < 0 || device->sourcePort == port))
      device->buffers->Vanish();
  }
}

uint32_t AlsaMidiIn::GetNumDevs() {
  return list_.Refresh();
}

MidiResult AlsaMidiIn::GetDevCaps(uint32_t device, MidiDeviceCaps* caps) {
  return list_.Caps(device, caps);
}

MidiResult AlsaMidiIn::Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                            uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  SeqPortInfo listed;
  if (!list_.Find(device, &listed)) return MMSYSERR_BADDEVICEID;

  auto opened = std::make_shared<Device>();
  const MidiResult locked =
      LockSeqDevice(config_.lockSpace, seq_, listed, SeqDirection::Readable, &opened->lock);
  if (locked != MMSYSERR_NOERROR) return locked;
  opened->sourceClient = listed.client;
  opened->sourcePort = listed.port;
  MidiInHandle id = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    id = nextHandle_++;
  }
  opened->port = CreatePrivatePort(seq_, "MIDI In " + std::to_string(id), OwnPortRole::Receives);
  if (opened->port < 0) return MMSYSERR_NOMEM;
  opened->buffers = std::make_unique<SysexInputBuffers>(id, callback, instance);
  {
    std::lock_guard<std::mutex> hold(lock_);
    devices_[id] = opened;
    byPort_[opened->port] = opened;
  }
  if (snd_seq_connect_from(seq_, opened->port, opened->sourceClient, opened->sourcePort) < 0) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      devices_.erase(id);
      byPort_.erase(opened->port);
    }
    snd_seq_delete_simple_port(seq_, opened->port);
    return MMSYSERR_ALLOCATED;
  }
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiIn::Reset(MidiInHandle handle) {
  auto device = Find(handle);
  return device ? device->buffers->Reset() : MMSYSERR_INVALHANDLE;
}

MidiResult AlsaMidiIn::PrepareHeader(MidiInHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  return device ? device->buffers->PrepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult AlsaMidiIn::AddBuffer(MidiInHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  return device ? device->buffers->AddBuffer(header) : MMSYSERR_INVALHANDLE;
}

MidiResult AlsaMidiIn::Start(MidiInHandle handle) {
  auto device = Find(handle);
  return device ? device->buffers->Start() : MMSYSERR_INVALHANDLE;
}

MidiResult AlsaMidiIn::Stop(MidiInHandle handle) {
  auto device = Find(handle);
  return device ? device->buffers->Stop() : MMSYSERR_INVALHANDLE;
}

MidiResult AlsaMidiIn::UnprepareHeader(MidiInHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  return device ? device->buffers->UnprepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult AlsaMidiIn::Close(MidiInHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  const MidiResult busy = device->buffers->CanClose();
  if (busy != MMSYSERR_NOERROR) return busy;
  {
    std::lock_guard<std::mutex> hold(lock_);
    devices_.erase(handle);
    byPort_.erase(device->port);
  }
  Release(*device);
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
