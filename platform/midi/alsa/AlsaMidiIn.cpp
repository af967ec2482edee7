#include "platform/midi/alsa/AlsaMidiIn.h"

#include <string>

#include "platform/midi/alsa/AlsaSeqClient.h"

namespace kv5 {

AlsaMidiIn::~AlsaMidiIn() {
  for (const auto& device : devices_.TakeAll()) Release(static_cast<const Device&>(*device));
}

void AlsaMidiIn::Deliver(int port, snd_seq_addr_t source, const uint8_t* bytes, size_t count) {
  std::shared_ptr<Device> device;
  {
    std::lock_guard<std::mutex> hold(portsLock_);
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
  for (const auto& device : devices_.All()) device->buffers->MarkLoss();
}

void AlsaMidiIn::Release(const Device& device) {
  snd_seq_disconnect_from(seq_, device.port, device.sourceClient, device.sourcePort);
  snd_seq_delete_simple_port(seq_, device.port);
}

void AlsaMidiIn::Closed(BufferedMidiIn::Device& closed) {
  const auto& device = static_cast<const Device&>(closed);
  {
    std::lock_guard<std::mutex> hold(portsLock_);
    byPort_.erase(device.port);
  }
  Release(device);
}

void AlsaMidiIn::Vanish(int client, int port) {
  for (const auto& each : devices_.All()) {
    const auto& device = static_cast<const Device&>(*each);
    if (device.sourceClient == client && (port < 0 || device.sourcePort == port))
      device.buffers->Vanish();
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

  MidiInHandle id = 0;
  auto opened = NewDevice<Device>(callback, instance, &id);
  const MidiResult locked =
      LockSeqDevice(config_.lockSpace, seq_, listed, SeqDirection::Readable, &opened->lock);
  if (locked != MMSYSERR_NOERROR) return locked;
  opened->sourceClient = listed.client;
  opened->sourcePort = listed.port;
  opened->port = CreatePrivatePort(seq_, "MIDI In " + std::to_string(id), OwnPortRole::Receives);
  if (opened->port < 0) return MMSYSERR_NOMEM;
  devices_.Insert(id, opened);
  {
    std::lock_guard<std::mutex> hold(portsLock_);
    byPort_[opened->port] = opened;
  }
  if (snd_seq_connect_from(seq_, opened->port, opened->sourceClient, opened->sourcePort) < 0) {
    devices_.Take(id);
    {
      std::lock_guard<std::mutex> hold(portsLock_);
      byPort_.erase(opened->port);
    }
    snd_seq_delete_simple_port(seq_, opened->port);
    return MMSYSERR_ALLOCATED;
  }
  *handle = id;
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
