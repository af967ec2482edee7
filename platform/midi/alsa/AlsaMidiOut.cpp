#include "platform/midi/alsa/AlsaMidiOut.h"

#include <cstring>
#include <string>

#include "platform/midi/alsa/AlsaCardPort.h"
#include "platform/midi/alsa/AlsaRawOutput.h"
#include "platform/midi/alsa/AlsaSeqClient.h"

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
  device.sending.reset();
  if (device.port < 0) return;
  snd_seq_disconnect_to(seq_, device.port, device.destClient, device.destPort);
  snd_seq_delete_simple_port(seq_, device.port);
}

std::unique_ptr<OutputLink> AlsaMidiOut::OpenLink(Device& device, MidiOutHandle id,
                                                  bool hardwareLine, MidiResult* result) {
  if (auto raw = FindRawMidiOutput(seq_, device.destClient, device.destPort))
    return RawMidiOutput::Open(*raw, config_, result);
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
  std::optional<WirePacer> pacer;
  if (hardwareLine) pacer.emplace(config_.lineBufferBytes, config_.lineBytesPerSecond);
  *result = MMSYSERR_NOERROR;
  return std::make_unique<SeqLink>(sender_, device.port, std::move(pacer));
}

uint32_t AlsaMidiOut::GetNumDevs() {
  return static_cast<uint32_t>(ListSeqPorts(seq_, SeqDirection::Writable, ownClient_).size());
}

MidiResult AlsaMidiOut::GetDevCaps(uint32_t device, MidiDeviceCaps* caps) {
  if (caps == nullptr) return MMSYSERR_INVALPARAM;
  const auto names = SeqPortNames(ListSeqPorts(seq_, SeqDirection::Writable, ownClient_));
  if (device >= names.size()) return MMSYSERR_BADDEVICEID;
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  std::memcpy(caps->szPname, names[device].data(), names[device].size());
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiOut::Open(MidiOutHandle* handle, uint32_t device) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  const auto ports = ListSeqPorts(seq_, SeqDirection::Writable, ownClient_);
  if (device == MIDI_MAPPER) device = 0;
  if (device >= ports.size()) return MMSYSERR_BADDEVICEID;

  auto opened = std::make_shared<Device>();
  opened->destClient = ports[device].client;
  opened->destPort = ports[device].port;
  MidiOutHandle id = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    id = nextHandle_++;
  }
  MidiResult result = MMSYSERR_ERROR;
  std::unique_ptr<OutputLink> link = OpenLink(*opened, id, ports[device].hardware, &result);
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
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  if (device->sending->Gone()) return MMSYSERR_NODRIVER;
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult AlsaMidiOut::LongMsg(MidiOutHandle handle, MidiHeader* header) {
  auto device = Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
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
  return device->sending->Gone() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

}  // namespace kv5
