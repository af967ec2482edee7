#include "platform/midi/alsa/AlsaSeqClient.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <mutex>

namespace kv5 {
namespace {

// The library prints its own errors to stderr; the backend reports reasons itself.
void QuietErrorHandler(const char*, int, const char*, int, const char*, ...) {}

// The kernel numbers a client's ports below this.
constexpr int kPortNumbers = 254;

constexpr unsigned int kListedTypes =
    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION;

}  // namespace

SeqClient OpenSeqClient(const std::string& name, const AlsaConfig& config, std::string* error) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(QuietErrorHandler); });

  snd_seq_t* raw = nullptr;
  int result = snd_seq_open(&raw, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (result < 0) {
    *error = std::string("cannot open the ALSA sequencer: ") + snd_strerror(result);
    return nullptr;
  }
  SeqClient seq(raw);
  const char* step = "name the client";
  result = snd_seq_set_client_name(raw, name.c_str());
  if (result >= 0) {
    step = "enlarge the input pool";
    result = snd_seq_set_client_pool_input(raw, static_cast<size_t>(config.inputPoolCells));
  }
  if (result >= 0) {
    step = "enlarge the input buffer";
    result = snd_seq_set_input_buffer_size(raw, config.inputBufferBytes);
  }
  if (result < 0) {
    *error =
        std::string("cannot ") + step + " of the ALSA sequencer client: " + snd_strerror(result);
    return nullptr;
  }
  return seq;
}

std::string SeqClientCardName(const snd_seq_client_info_t* client) {
  const int card = snd_seq_client_info_get_card(client);
  char* name = nullptr;
  if (card < 0 || snd_card_get_longname(card, &name) < 0 || name == nullptr) return {};
  std::string longName = name;
  std::free(name);
  return longName;
}

std::vector<SeqPortInfo> ListSeqPorts(snd_seq_t* seq, SeqDirection direction, int ownClient) {
  const unsigned int wanted = direction == SeqDirection::Readable
                                  ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                  : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
  std::vector<SeqPortInfo> ports;
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  if (snd_seq_client_info_malloc(&client) < 0) return ports;
  if (snd_seq_port_info_malloc(&port) < 0) {
    snd_seq_client_info_free(client);
    return ports;
  }
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    const int clientId = snd_seq_client_info_get_client(client);
    if (clientId == ownClient || clientId == SND_SEQ_CLIENT_SYSTEM) continue;
    const std::string card = SeqClientCardName(client);
    snd_seq_port_info_set_client(port, clientId);
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq, port) >= 0) {
      const unsigned int caps = snd_seq_port_info_get_capability(port);
      const unsigned int type = snd_seq_port_info_get_type(port);
      if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
      if (!(type & kListedTypes)) continue;
      SeqPortInfo info;
      info.client = clientId;
      info.port = snd_seq_port_info_get_port(port);
      info.hardware = (type & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
      info.label = {clientId, snd_seq_client_info_get_name(client),
                    snd_seq_port_info_get_name(port)};
      info.card = card;
      ports.push_back(std::move(info));
    }
  }
  snd_seq_port_info_free(port);
  snd_seq_client_info_free(client);
  return ports;
}

std::vector<std::string> SeqPortNames(const std::vector<SeqPortInfo>& ports) {
  std::vector<SeqPortLabel> labels;
  labels.reserve(ports.size());
  for (const SeqPortInfo& port : ports) labels.push_back(port.label);
  return DeviceListNames(labels);
}

int CreatePrivatePort(snd_seq_t* seq, const std::string& name, OwnPortRole role) {
  snd_seq_port_info_t* info = nullptr;
  snd_seq_port_info_t* taken = nullptr;
  snd_seq_port_info_alloca(&info);
  snd_seq_port_info_alloca(&taken);
  snd_seq_port_info_set_name(info, name.c_str());
  // Without the subscription capabilities the port stays out of every other program's lists.
  snd_seq_port_info_set_capability(
      info, role == OwnPortRole::Receives ? SND_SEQ_PORT_CAP_WRITE : SND_SEQ_PORT_CAP_READ);
  snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  snd_seq_port_info_set_midi_channels(info, 16);
  snd_seq_port_info_set_port_specified(info, 1);
  // The numbers go round: one comes again only after every other was given.
  static std::atomic<unsigned int> next{0};
  int result = -EBUSY;
  for (int tries = 0; tries < kPortNumbers; ++tries) {
    const int number = static_cast<int>(next++ % kPortNumbers);
    if (snd_seq_get_port_info(seq, number, taken) == 0) continue;
    snd_seq_port_info_set_port(info, number);
    result = snd_seq_create_port(seq, info);
    if (result >= 0) return snd_seq_port_info_get_port(info);
  }
  return result;
}

}  // namespace kv5
