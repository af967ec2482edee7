// The receiving side of one MIDI input port: the process callback copies every event's bytes
// into a ring, and a reader thread of the stream hands them on in arrival order, so that nothing
// slow ever runs on JACK's realtime thread.
#pragma once

#include <jack/jack.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/midi/jack/JackClient.h"
#include "platform/midi/jack/SpscRing.h"

namespace kv5 {

class JackInputStream : public JackProcessStream {
 public:
  using Sink = std::function<void(const uint8_t* bytes, size_t count)>;

  // Marks bytes lost to a full ring: a status byte that ends the message it interrupts.
  static constexpr uint8_t kLossMark = 0xF4;

  // Starts the reader thread, which calls sink, and attaches to the client's process callback.
  // ringBytes: what the ring between the callback and the reader holds.
  JackInputStream(JackClient& client, jack_port_t* port, size_t ringBytes, Sink sink);
  // Detaches and stops the reader; bytes not yet handed on are dropped.
  ~JackInputStream() override;
  JackInputStream(const JackInputStream&) = delete;
  JackInputStream& operator=(const JackInputStream&) = delete;

  bool Attached() const { return attached_; }
  jack_port_t* Port() const { return port_; }

  void Process(jack_nframes_t frames) noexcept override;

 private:
  void ReadLoop();

  JackClient& client_;
  jack_port_t* const port_;
  const Sink sink_;
  SpscRing<uint8_t> ring_;
  sem_t wake_{};
  std::atomic<bool> quit_{false};
  bool attached_ = false;
  bool lost_ = false;  // owned by the process callback
  std::thread reader_;
};

}  // namespace kv5
