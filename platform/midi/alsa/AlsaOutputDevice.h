// One open output device: a thread of its own sends the queued headers in order and marks each
// done once its bytes have left, so LongMsg returns at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/midi/MidiServices.h"
#include "platform/midi/alsa/AlsaSeqSender.h"
#include "platform/midi/alsa/WirePacer.h"

namespace kv5 {

class AlsaOutputDevice {
 public:
  // hardwareLine: the receiver is a kernel MIDI device that drops what it cannot buffer.
  AlsaOutputDevice(SeqSender& sender, int port, bool hardwareLine);
  // Gives back what is pending (as Reset) and stops the thread.
  ~AlsaOutputDevice();
  AlsaOutputDevice(const AlsaOutputDevice&) = delete;
  AlsaOutputDevice& operator=(const AlsaOutputDevice&) = delete;

  MidiResult LongMsg(MidiHeader* header);
  // Every pending header comes back done; returns once none of their bytes is read any more.
  void Reset();
  bool Busy();

 private:
  void Loop();

  SeqSender& sender_;
  const int port_;
  std::optional<WirePacer> pacer_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<MidiHeader*> queue_;
  MidiHeader* sending_ = nullptr;
  std::atomic<bool> cancel_{false};
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace kv5
