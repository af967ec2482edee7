// One open output device: a thread of its own sends the queued headers in order and marks each
// done once its bytes have left, so LongMsg returns at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/midi/MidiServices.h"
#include "platform/midi/alsa/AlsaOutputLink.h"

namespace kv5 {

class AlsaOutputDevice {
 public:
  explicit AlsaOutputDevice(std::unique_ptr<OutputLink> link);
  // Gives back what is pending (as Reset) and stops the thread.
  ~AlsaOutputDevice();
  AlsaOutputDevice(const AlsaOutputDevice&) = delete;
  AlsaOutputDevice& operator=(const AlsaOutputDevice&) = delete;

  // MMSYSERR_NODRIVER once the device is gone.
  MidiResult LongMsg(MidiHeader* header);
  // Every pending header comes back done; returns once none of their bytes is read any more.
  void Reset();
  bool Busy();
  // The device went away: what was pending came back done, nothing more is sent.
  bool Gone() const { return gone_.load(); }

 private:
  void Loop();
  // Hands back every queued header done; the lock is held.
  void GiveBackQueued();

  const std::unique_ptr<OutputLink> link_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<MidiHeader*> queue_;
  MidiHeader* sending_ = nullptr;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> gone_{false};
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace kv5
