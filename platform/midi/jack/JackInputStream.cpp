#include "platform/midi/jack/JackInputStream.h"

#include <jack/midiport.h>

#include <cerrno>

namespace kv5 {

JackInputStream::JackInputStream(JackClient& client, jack_port_t* port, size_t ringBytes, Sink sink)
    : client_(client), port_(port), sink_(std::move(sink)), ring_(ringBytes) {
  sem_init(&wake_, 0, 0);
  reader_ = std::thread([this] { ReadLoop(); });
  attached_ = client_.Attach(this);
}

JackInputStream::~JackInputStream() {
  if (attached_) client_.Detach(this);
  quit_ = true;
  sem_post(&wake_);
  reader_.join();
  sem_destroy(&wake_);
}

void JackInputStream::Process(jack_nframes_t frames) noexcept {
  void* buffer = jack_port_get_buffer(port_, frames);
  const uint32_t count = jack_midi_get_event_count(buffer);
  bool wrote = false;
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
    // An event goes in whole or not at all; after a loss the mark goes first.
    const size_t need = event.size + (lost_ ? 1 : 0);
    if (ring_.Free() < need) {
      lost_ = true;
      continue;
    }
    if (lost_) {
      ring_.Push(kLossMark);
      lost_ = false;
    }
    ring_.Write(event.buffer, event.size);
    wrote = true;
  }
  if (wrote) sem_post(&wake_);  // never blocks
}

void JackInputStream::ReadLoop() {
  uint8_t chunk[8192];
  for (;;) {
    while (sem_wait(&wake_) != 0 && errno == EINTR) {
    }
    if (quit_) return;
    size_t count = 0;
    while ((count = ring_.Read(chunk, sizeof chunk)) > 0) sink_(chunk, count);
  }
}

}  // namespace kv5
