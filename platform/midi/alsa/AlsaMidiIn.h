// The input services on the sequencer: each open device is a private port of our client,
// subscribed to the chosen port, whose bytes fill the buffers the owner queued.
#pragma once

#include <alsa/asoundlib.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/midi/MidiServices.h"
#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/AlsaDeviceList.h"
#include "platform/midi/common/BufferedMidiIn.h"
#include "platform/midi/common/DeviceLock.h"

namespace kv5 {

class AlsaMidiIn : public BufferedMidiIn {
 public:
  AlsaMidiIn(snd_seq_t* seq, int ownClient, const AlsaConfig& config)
      : seq_(seq), config_(config), list_(seq, SeqDirection::Readable, ownClient) {}
  // Releases devices still open; the reader must have stopped.
  ~AlsaMidiIn() override;
  AlsaMidiIn(const AlsaMidiIn&) = delete;
  AlsaMidiIn& operator=(const AlsaMidiIn&) = delete;

  // Bytes the client's reader received on one of our ports from source; called on the reader's
  // thread. Only what comes from the port a device was opened on reaches it: any client may send
  // to our ports directly.
  void Deliver(int port, snd_seq_addr_t source, const uint8_t* bytes, size_t count);
  // The client lost input events: every open device drops the message it is receiving.
  void MarkLoss();
  // The sequencer announced that a port (port -1: every port of the client) went away; the
  // devices open on it vanish. On the reader's thread.
  void Vanish(int client, int port);

  uint32_t GetNumDevs() override;
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override;
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override;

 private:
  struct Device : BufferedMidiIn::Device {
    std::unique_ptr<DeviceLock> lock;
    int port = -1;  // ours
    int sourceClient = 0;
    int sourcePort = 0;
  };

  // Our port leaves the map, stops listening and is deleted.
  void Closed(BufferedMidiIn::Device& device) override;
  void Release(const Device& device);

  snd_seq_t* const seq_;
  const AlsaConfig config_;
  SeqDeviceSnapshot list_;
  std::mutex portsLock_;  // guards byPort_
  std::map<int, std::shared_ptr<Device>> byPort_;
};

}  // namespace kv5
