#include "platform/midi/alsa/AlsaDeviceObserver.h"

#include "platform/midi/alsa/AlsaSeqClient.h"

namespace kv5 {

SeqDeviceObserver::SeqDeviceObserver(snd_seq_t* seq, Gone gone)
    : seq_(seq), gone_(std::move(gone)) {
  const int port = CreatePrivatePort(seq_, "Announcements", OwnPortRole::Receives);
  if (port < 0) return;
  if (snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
    snd_seq_delete_simple_port(seq_, port);
    return;
  }
  port_ = port;
}

SeqDeviceObserver::~SeqDeviceObserver() {
  if (port_ < 0) return;
  snd_seq_disconnect_from(seq_, port_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
  snd_seq_delete_simple_port(seq_, port_);
}

void SeqDeviceObserver::OnNotice(const snd_seq_event_t& event) const {
  if (port_ < 0 || event.dest.port != port_ || event.source.client != SND_SEQ_CLIENT_SYSTEM ||
      event.source.port != SND_SEQ_PORT_SYSTEM_ANNOUNCE)
    return;
  if (event.type == SND_SEQ_EVENT_CLIENT_EXIT) {
    gone_(event.data.addr.client, -1);
  } else if (event.type == SND_SEQ_EVENT_PORT_EXIT) {
    gone_(event.data.addr.client, event.data.addr.port);
  }
}

}  // namespace kv5
