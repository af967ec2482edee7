// The observer of device changes on the sequencer: a port of our own subscribed to the system
// client's announce port, which tells every client when a client or a port goes away (a USB
// cable pulled, a program that ends), so that a device open on it vanishes at once.
#pragma once

#include <alsa/asoundlib.h>

#include <functional>

namespace kv5 {

class SeqDeviceObserver {
 public:
  // Called with client and port (port -1: the whole client) of what went away.
  using Gone = std::function<void(int client, int port)>;

  // Subscribes a private port of seq to the announcements; Subscribed() tells whether it worked.
  SeqDeviceObserver(snd_seq_t* seq, Gone gone);
  ~SeqDeviceObserver();
  SeqDeviceObserver(const SeqDeviceObserver&) = delete;
  SeqDeviceObserver& operator=(const SeqDeviceObserver&) = delete;

  bool Subscribed() const { return port_ >= 0; }
  // A notice the client's reader received; only the system's announcements on our port count,
  // not a notice another client sent us.
  void OnNotice(const snd_seq_event_t& event) const;

 private:
  snd_seq_t* const seq_;
  const Gone gone_;
  int port_ = -1;
};

}  // namespace kv5
