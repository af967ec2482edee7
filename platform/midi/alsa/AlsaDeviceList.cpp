#include "platform/midi/alsa/AlsaDeviceList.h"

#include <cstring>

#include "platform/midi/alsa/AlsaCardPort.h"

namespace kv5 {
namespace {

// The port at client:port carries the names it was listed with, and belongs to the same card.
bool StillListed(snd_seq_t* seq, const SeqPortInfo& listed) {
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  if (snd_seq_get_any_client_info(seq, listed.client, client) < 0) return false;
  if (snd_seq_get_any_port_info(seq, listed.client, listed.port, port) < 0) return false;
  return listed.label.clientName == snd_seq_client_info_get_name(client) &&
         listed.label.portName == snd_seq_port_info_get_name(port) &&
         listed.card == SeqClientCardName(client);
}

}  // namespace

uint32_t SeqDeviceSnapshot::Refresh() {
  std::lock_guard<std::mutex> hold(lock_);
  RefreshLocked();
  return static_cast<uint32_t>(ports_.size());
}

void SeqDeviceSnapshot::RefreshLocked() {
  taken_ = true;
  ports_ = ListSeqPorts(seq_, direction_, ownClient_);
  names_ = SeqPortNames(ports_);
}

MidiResult SeqDeviceSnapshot::Caps(uint32_t device, MidiDeviceCaps* caps) {
  if (caps == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard<std::mutex> hold(lock_);
  if (!taken_) RefreshLocked();
  if (device >= names_.size()) return MMSYSERR_BADDEVICEID;
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  std::memcpy(caps->szPname, names_[device].data(),
              std::min(names_[device].size(), sizeof caps->szPname - 1));
  return MMSYSERR_NOERROR;
}

bool SeqDeviceSnapshot::Find(uint32_t device, SeqPortInfo* port) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!taken_) RefreshLocked();
  if (device >= ports_.size() || !StillListed(seq_, ports_[device])) return false;
  *port = ports_[device];
  return true;
}

MidiResult LockSeqDevice(const std::string& lockSpace, snd_seq_t* seq, const SeqPortInfo& port,
                         SeqDirection direction, std::unique_ptr<DeviceLock>* held) {
  const bool output = direction == SeqDirection::Writable;
  std::string key;
  // A card's port is the card's, however it is reached; a unit's input and output are the same
  // subdevice of the card.
  if (!port.card.empty()) {
    if (const auto raw = FindRawMidiOutput(seq, port.client, port.port))
      key = CardPortLockKey(port.card, raw->device, raw->subdevice, output);
  }
  if (key.empty()) {
    key.append("alsa\n").append(std::to_string(port.client)).append(":");
    key.append(std::to_string(port.port)).append("\n").append(port.label.clientName);
    key.append("\n").append(port.label.portName).append("\n").append(port.card);
    key.append(output ? "\nout" : "\nin");
  }
  return ClaimDeviceLock(key, held, lockSpace) == DeviceLockResult::TakenByPeer ? MMSYSERR_ALLOCATED
                                                                                : MMSYSERR_NOERROR;
}

}  // namespace kv5
