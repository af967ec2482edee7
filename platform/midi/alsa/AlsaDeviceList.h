// The device list of one direction on the sequencer. GetNumDevs takes a new snapshot; names and
// opens refer to the last one, so an index stays the port it was listed as (client:port and the
// names it had), and a port that has gone since, or whose number another client took, fails to
// open.
#pragma once

#include <alsa/asoundlib.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/alsa/AlsaSeqClient.h"
#include "platform/midi/common/DeviceLock.h"

namespace kv5 {

class SeqDeviceSnapshot {
 public:
  SeqDeviceSnapshot(snd_seq_t* seq, SeqDirection direction, int ownClient)
      : seq_(seq), direction_(direction), ownClient_(ownClient) {}

  uint32_t Refresh();
  MidiResult Caps(uint32_t device, MidiDeviceCaps* caps);
  // The listed port when it is still there as listed; false for an index outside the list
  // (MIDI_MAPPER among them) and for a port that has gone.
  bool Find(uint32_t device, SeqPortInfo* port);

 private:
  void RefreshLocked();

  snd_seq_t* const seq_;
  const SeqDirection direction_;
  const int ownClient_;
  std::mutex lock_;
  bool taken_ = false;
  std::vector<SeqPortInfo> ports_;
  std::vector<std::string> names_;
};

// Takes the lock of one direction of a port: MMSYSERR_ALLOCATED when another process has it open.
// Where no lock can be made the device opens unlocked.
MidiResult LockSeqDevice(const std::string& lockSpace, snd_seq_t* seq, const SeqPortInfo& port,
                         SeqDirection direction, std::unique_ptr<DeviceLock>* held);

}  // namespace kv5
