// The output services: each open device has a sending thread of its own. A port of a sound card
// is written through the card's raw MIDI device, at the device's own speed; a port of another
// program is reached from a private port of our client, connected to it.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/MidiServices.h"
#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/AlsaDeviceList.h"
#include "platform/midi/alsa/AlsaOutputDevice.h"
#include "platform/midi/alsa/AlsaSeqSender.h"
#include "platform/midi/common/DeviceLock.h"

namespace kv5 {

class AlsaMidiOut : public MidiOutServices {
 public:
  AlsaMidiOut(snd_seq_t* seq, int ownClient, SeqSender& sender, const AlsaConfig& config)
      : seq_(seq),
        sender_(sender),
        config_(config),
        list_(seq, SeqDirection::Writable, ownClient) {}
  ~AlsaMidiOut() override;
  AlsaMidiOut(const AlsaMidiOut&) = delete;
  AlsaMidiOut& operator=(const AlsaMidiOut&) = delete;

  // The sequencer announced that a port (port -1: every port of the client) went away: the
  // devices open on it vanish, what they had pending comes back done. On the reader's thread.
  void Vanish(int client, int port);

  uint32_t GetNumDevs() override;
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override;
  // MIDI_MAPPER (no selection) opens no device. MMSYSERR_ALLOCATED when another program
  // holds a card's raw MIDI device.
  MidiResult Open(MidiOutHandle* handle, uint32_t device) override;
  MidiResult Close(MidiOutHandle handle) override;
  MidiResult PrepareHeader(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult LongMsg(MidiOutHandle handle, MidiHeader* header) override;
  MidiResult Reset(MidiOutHandle handle) override;
  MidiResult UnprepareHeader(MidiOutHandle handle, MidiHeader* header) override;

 private:
  struct Device {
    std::unique_ptr<DeviceLock> lock;
    std::atomic<bool> vanished{false};
    int port = -1;  // ours, towards a sequencer port; -1 for a raw MIDI device
    int destClient = 0;
    int destPort = 0;
    // Held while the reader resets `sending` for a vanished device and while a close lets it go:
    // the two come from different threads.
    std::mutex releasing;
    std::unique_ptr<AlsaOutputDevice> sending;
  };

  std::shared_ptr<Device> Find(MidiOutHandle handle);
  // The link of a new device to client:port: the card's raw MIDI output, else a private port.
  std::unique_ptr<OutputLink> OpenLink(Device& device, MidiOutHandle id, bool hardwareLine,
                                       MidiResult* result);
  void Release(Device& device);

  snd_seq_t* const seq_;
  SeqSender& sender_;
  const AlsaConfig config_;
  SeqDeviceSnapshot list_;
  std::mutex lock_;  // guards the map
  std::map<MidiOutHandle, std::shared_ptr<Device>> devices_;
  MidiOutHandle nextHandle_ = 1;
};

}  // namespace kv5
