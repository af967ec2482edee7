// The input thread of a sequencer client: reads every event that reaches the client's ports and
// hands its MIDI bytes on, tagged with the port that received it and the port that sent it. When
// the kernel reports that events were lost (the client's input pool overflowed; the kernel then
// also discards what was still unread), the loss is told before any byte that follows it.
#pragma once

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace kv5 {

class SeqReader {
 public:
  // Runs on the reader's thread; must not block. source is the sender's client:port, as the kernel
  // stamps it (a client cannot give another's).
  using Sink =
      std::function<void(int port, snd_seq_addr_t source, const uint8_t* bytes, size_t count)>;
  // Runs on the reader's thread; the lost events may have been meant for any port.
  using Loss = std::function<void()>;
  // Events of the sequencer's own (a client or port that starts or ends); must not block long.
  using Notice = std::function<void(const snd_seq_event_t& event)>;

  SeqReader(snd_seq_t* seq, Sink sink, Loss loss, Notice notice = {});
  // Stops and joins the thread; no sink call runs after it returns.
  ~SeqReader();
  SeqReader(const SeqReader&) = delete;
  SeqReader& operator=(const SeqReader&) = delete;

  // False when the thread could not be set up.
  bool Running() const { return thread_.joinable(); }

 private:
  void Loop();
  void ReadAvailable(snd_midi_event_t* decoder);

  snd_seq_t* const seq_;
  const Sink sink_;
  const Loss loss_;
  const Notice notice_;
  int wakeFd_ = -1;
  std::thread thread_;
};

}  // namespace kv5
