#include "platform/midi/alsa/AlsaDeviceList.h"

#include <cstring>

namespace kv5 {
namespace {

// The port at client:port carries the names it was listed with.
bool StillListed(snd_seq_t* seq, const SeqPortInfo& listed) {
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  if (snd_seq_get_any_client_info(seq, listed.client, client) < 0) return false;
  if (snd_seq_get_any_port_info(seq, listed.client, listed.port, port) < 0) return false;
  return listed.label.clientName == snd_seq_client_info_get_name(client) &&
         listed.label.portName == snd_seq_port_info_get_name(port);
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

MidiResult LockSeqDevice(const std::string& lockFolder, const SeqPortInfo& port,
                         SeqDirection direction, std::unique_ptr<DeviceLock>* held) {
  const std::string key = std::string("alsa\n") +
                          (direction == SeqDirection::Readable ? "in\n" : "out\n") +
                          std::to_string(port.client) + ":" + std::to_string(port.port) + "\n" +
                          port.label.clientName + "\n" + port.label.portName;
  const std::string folder = lockFolder.empty() ? DefaultDeviceLockFolder() : lockFolder;
  return ClaimDeviceLock(folder, key, held) == DeviceLockResult::TakenByPeer ? MMSYSERR_ALLOCATED
                                                                             : MMSYSERR_NOERROR;
}

}  // namespace kv5
