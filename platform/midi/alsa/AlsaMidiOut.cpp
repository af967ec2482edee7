#include "platform/midi/alsa/AlsaMidiOut.h"

#include <string>
#include <vector>

#include "platform/midi/alsa/AlsaCardPort.h"
#include "platform/midi/alsa/AlsaRawOutput.h"
#include "platform/midi/alsa/AlsaSeqClient.h"
#include "platform/midi/alsa/BridgePacer.h"
#include "platform/midi/alsa/WirePacer.h"

namespace kv5 {

AlsaMidiOut::~AlsaMidiOut() {
  for (auto& [handle, device] : devices_) Release(*device);
}

std::shared_ptr<AlsaMidiOut::Device> AlsaMidiOut::Find(MidiOutHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = devices_.find(handle);
  return found == devices_.end() ? nullptr : found->second;
}

void AlsaMidiOut::Release(Device& device) {
  {
    std::lock_guard<std::mutex> hold(device.releasing);
    device.sending.reset();
  }
  if (device.port < 0) return;
  snd_seq_disconnect_to(seq_, device.port, device.destClient, device.destPort);
  snd_seq_delete_simple_port(seq_, device.port);
}

std::unique_ptr<OutputLink> AlsaMidiOut::OpenLink(Device& device, MidiOutHandle id,
                                                  bool hardwareLine, MidiResult* result) {
  const auto raw = FindRawMidiOutput(seq_, device.destClient, device.destPort);
  if (raw) {
    auto output = RawMidiOutput::Open(*raw, config_, result);
    // Refused as busy: another program holds the raw device, itself or through the kernel's
    // bridge (it is subscribed to the card's port). The bridge takes us as well; the program's
    // own hold does not, and the connection below fails.
    if (output || *result != MMSYSERR_ALLOCATED || !raw->bridged) return output;
  }
  device.port = CreatePrivatePort(seq_, "MIDI Out " + std::to_string(id), OwnPortRole::Sends);
  if (device.port < 0) {
    *result = MMSYSERR_NOMEM;
    return nullptr;
  }
  if (snd_seq_connect_to(seq_, device.port, device.destClient, device.destPort) < 0) {
    snd_seq_delete_simple_port(seq_, device.port);
    device.port = -1;
    *result = MMSYSERR_ALLOCATED;
    return nullptr;
  }
  std::unique_ptr<OutputPacer> pacer;
  if (raw) {
    pacer = std::make_unique<BridgePacer>(*raw, config_);
  } else if (hardwareLine) {
    pacer = std::make_unique<WirePacer>(config_.lineBufferBytes, config_.lineBytesPerSecond);
  }
  *result = MMSYSERR_NOERROR;
  return std::make_unique<SeqLink>(sender_, device.port, std::move(pacer));
}

void AlsaMidiOut::Vanish(int client, int port) {
  std::vector<std::shared_ptr<Device>> gone;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [handle, device] : devices_) {
      if (device->destClient != client || (port >= 0 && device->destPort != port)) continue;
      device->vanished = true;
      gone.push_back(device);
    }
  }
  // Set before the reset: a message queued later is refused, or comes back failed. A device that
  // its owner closed meanwhile has nothing left to reset.
  for (auto& device : gone) {
    std::lock_guard<std::mutex> hold(device->releasing);
    if (device->sending) device->sending->Reset();
  }
}

uint32_t AlsaMidiOut::GetNumDevs() {
  return list_.Refresh();
}

MidiResult AlsaMidiOut::GetDevCaps(uint32_t device, MidiDeviceCaps* caps) {
  return list_.Caps(device, caps);
}

MidiResult AlsaMidiOut::Open(MidiOutHandle* handle, uint32_t device) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  SeqPortInfo listed;
  if (!list_.Find(device, &listed)) return MMSYSERR_BADDEVICEID;

  auto opened = std::make_shared<Device>();
  const MidiResult locked =
      LockSeqDevice(config_.lockSpace, seq_, listed, SeqDirection::Writable, &opened->lock);
  if (locked != MMSYSERR_NOERROR) return locked;
  opened->destClient = listed.client;
  opened->destPort = listed.port;
  MidiOutHandle id = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    id = nextHandle_++;
  }
  MidiResult result = MMSYSERR_ERROR;
  std::unique_ptr<OutputLink> link = OpenLink(*opened, id, listed.hardware, &result);
  if (!link) return result;
  opened->sending = std::make_unique<AlsaOutputDevice>(std::move(link));
  {
    std::lock_guard<std::mutex> hold(lock_);
    devices_[id] = opened;
  }
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiOut::Close(MidiOutHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (device->sending->Busy()) return MIDIERR_STILLPLAYING;
  {
    std::lock_guard<std::mutex> hold(lock_);
    devices_.erase(handle);
  }
  Release(*device);
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiOut::PrepareHeader(MidiOutHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (device->vanished) return MMSYSERR_NODRIVER;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  if (device->sending->Gone()) return MMSYSERR_NODRIVER;
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiOut::LongMsg(MidiOutHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  if (device->vanished) return MMSYSERR_NODRIVER;
  return device->sending->LongMsg(header);
}

MidiResult AlsaMidiOut::Reset(MidiOutHandle handle) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  device->sending->Reset();
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiOut::UnprepareHeader(MidiOutHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  if (header->dwFlags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
  header->dwFlags &= ~MHDR_PREPARED;
  // The owner learns here that the header it got back was not sent.
  return device->vanished || device->sending->Gone() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

}  // namespace kv5
