#include "platform/midi/alsa/AlsaSeqReader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kv5 {
namespace {

// Short messages are at most three bytes; the decoder needs room for one.
constexpr long kShortMessageBytes = 16;

}  // namespace

SeqReader::SeqReader(snd_seq_t* seq, Sink sink, Loss loss, Notice notice)
    : seq_(seq), sink_(std::move(sink)), loss_(std::move(loss)), notice_(std::move(notice)) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) return;
  thread_ = std::thread([this] { Loop(); });
}

SeqReader::~SeqReader() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (wakeFd_ >= 0) close(wakeFd_);
}

void SeqReader::Loop() {
  snd_midi_event_t* decoder = nullptr;
  if (snd_midi_event_new(kShortMessageBytes, &decoder) < 0) decoder = nullptr;
  // Every short message with its status byte, so each event decodes on its own.
  if (decoder != nullptr) snd_midi_event_no_status(decoder, 1);

  const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
  std::vector<pollfd> fds(static_cast<size_t>(count > 0 ? count : 0) + 1);
  fds[0] = {wakeFd_, POLLIN, 0};
  snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned int>(fds.size() - 1), POLLIN);
  for (;;) {
    const int ready = poll(fds.data(), fds.size(), -1);
    if (ready < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) break;
    bool broken = false;
    for (size_t i = 1; i < fds.size(); ++i) broken |= (fds[i].revents & (POLLERR | POLLNVAL)) != 0;
    if (broken) break;  // the sequencer went away; polling on would spin
    ReadAvailable(decoder);
  }
  if (decoder != nullptr) snd_midi_event_free(decoder);
}

void SeqReader::ReadAvailable(snd_midi_event_t* decoder) {
  for (;;) {
    snd_seq_event_t* event = nullptr;
    const int result = snd_seq_event_input(seq_, &event);
    if (result == -ENOSPC) {
      // Events that found our pool full were dropped: a message they belonged to has a hole.
      loss_();
      continue;
    }
    if (result < 0 || event == nullptr) return;  // -EAGAIN: nothing more for now
    const int port = event->dest.port;
    if (event->type >= SND_SEQ_EVENT_CLIENT_START &&
        event->type <= SND_SEQ_EVENT_PORT_UNSUBSCRIBED) {
      if (notice_) notice_(*event);
    } else if (event->type == SND_SEQ_EVENT_SYSEX) {
      sink_(port, event->source, static_cast<const uint8_t*>(event->data.ext.ptr),
            event->data.ext.len);
    } else if (decoder != nullptr) {
      unsigned char bytes[kShortMessageBytes];
      snd_midi_event_reset_decode(decoder);
      const long length = snd_midi_event_decode(decoder, bytes, sizeof bytes, event);
      if (length > 0) sink_(port, event->source, bytes, static_cast<size_t>(length));
    }
  }
}

}  // namespace kv5
