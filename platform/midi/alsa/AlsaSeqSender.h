// Sends a message from a port of our own client to its subscribers. The kernel copies an event
// into each receiver's input pool at once, or drops it (and the receiver's unread events with it)
// when the pool has no room: there is no flow control, so the sender keeps receivers' pools small.
#pragma once

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/OutputPacer.h"

namespace kv5 {

class SeqSender {
 public:
  enum class Outcome { Sent, Cancelled, Failed };

  // Whole events, pieces and the stall limit as the configuration says.
  SeqSender(snd_seq_t* seq, const AlsaConfig& config) : seq_(seq), config_(config) {}

  // Sends the bytes from port: towards a device with a buffer (pacer not null) in paced pieces,
  // otherwise whole or in pieces by size. A message that finds no room is tried again until the
  // stall limit; a failed try costs the receiver its unread events, so none is provoked on
  // purpose. cancelled is asked between tries.
  Outcome Send(int port, const uint8_t* bytes, size_t count, OutputPacer* pacer,
               const std::function<bool()>& cancelled);

 private:
  // One event, retried while the receivers' pools are full: 0, or the error that ended it.
  int SendEvent(int port, const uint8_t* bytes, size_t count,
                const std::function<bool()>& cancelled);
  Outcome SendPieces(int port, const uint8_t* bytes, size_t count, OutputPacer* pacer,
                     const std::function<bool()>& cancelled);
  int WriteEvent(int port, const uint8_t* bytes, size_t count);

  snd_seq_t* const seq_;
  const AlsaConfig config_;
  std::mutex outputLock_;  // the library's direct output keeps one scratch buffer per client
};

}  // namespace kv5
