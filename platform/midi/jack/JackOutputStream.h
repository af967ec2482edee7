// The sending side of one MIDI output port: messages queued by other threads are written into
// process cycles, in pieces over consecutive cycles when one cycle's buffer cannot hold them, and
// each is marked done once its last byte is in a cycle. The bytes are read in place.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/midi/jack/JackBridgePacer.h"
#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/SpscRing.h"

namespace kv5 {

class JackOutputStream : public JackProcessStream {
 public:
  // cycleByteLimit: the most bytes written into one cycle; 0 for as many as the port buffer
  // holds. queueLength: the most messages queued at once. pacer (may be null, else outlives the
  // stream): how many bytes may be written now, towards a card behind a bridge. The stream
  // attaches itself to the client's process callback.
  JackOutputStream(JackClient& client, jack_port_t* port, size_t cycleByteLimit, size_t queueLength,
                   JackBridgePacer* pacer = nullptr);
  // Detaches once the port buffer is empty (a buffer left with events would repeat them in every
  // cycle until the port goes); whatever is still queued comes back done without being sent.
  ~JackOutputStream() override;
  JackOutputStream(const JackOutputStream&) = delete;
  JackOutputStream& operator=(const JackOutputStream&) = delete;

  bool Attached() const { return attached_; }

  // Queues length bytes, which must stay unchanged until done. In flags, MHDR_INQUEUE is cleared
  // and MHDR_DONE set in one step once the message has been written; the callback touches neither
  // the bytes nor the flags afterwards. False when the queue is full. Callers of Queue and Cancel
  // take turns (one producer).
  bool Queue(const uint8_t* data, uint32_t length, std::atomic<uint32_t>* flags);

  // Every queued message comes back done, the part not yet written dropped. Returns once the
  // callback holds none of them.
  void Cancel();

  // Messages queued and not yet done.
  uint32_t Outstanding() const { return outstanding_.load(); }

  jack_port_t* Port() const { return port_; }

  void Process(jack_nframes_t frames) noexcept override;

 private:
  struct Job {
    const uint8_t* data;
    uint32_t length;
    std::atomic<uint32_t>* flags;
  };

  void Complete(const Job& job) noexcept;
  // Completes the current job and every queued one; only by the consumer of the queue.
  void DropAll() noexcept;

  JackClient& client_;
  jack_port_t* const port_;
  const size_t cycleByteLimit_;
  JackBridgePacer* const pacer_;
  SpscRing<Job> jobs_;
  std::atomic<uint32_t> outstanding_{0};
  std::atomic<uint32_t> cancelRequested_{0};
  std::atomic<uint32_t> cancelServed_{0};
  // The port buffer holds events written in the last cycle.
  std::atomic<bool> bufferHoldsEvents_{false};
  bool attached_ = false;

  // Owned by the process callback (or by Cancel while the stream is detached).
  Job current_{};
  bool hasCurrent_ = false;
  uint32_t written_ = 0;
  uint64_t deliveredAt_ = 0;  // the pacer's count once the current message is written
};

}  // namespace kv5
