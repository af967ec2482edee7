#include "platform/midi/alsa/AlsaMidi.h"

#include "platform/midi/alsa/AlsaConfig.h"
#include "platform/midi/alsa/AlsaDeviceObserver.h"
#include "platform/midi/alsa/AlsaMidiIn.h"
#include "platform/midi/alsa/AlsaMidiOut.h"
#include "platform/midi/alsa/AlsaSeqClient.h"
#include "platform/midi/alsa/AlsaSeqReader.h"
#include "platform/midi/alsa/AlsaSeqSender.h"

namespace kv5 {
namespace {

// What other programs see of the updater: a client whose ports are all private.
constexpr const char* kHostClientName = "TELVOR Q9 Updater";

class AlsaMidiBackend : public MidiBackend {
 public:
  AlsaMidiBackend(SeqClient seq, const AlsaConfig& config)
      : seq_(std::move(seq)),
        clientId_(snd_seq_client_id(seq_.get())),
        sender_(seq_.get(), config),
        in_(seq_.get(), clientId_, config),
        out_(seq_.get(), clientId_, sender_, config),
        observer_(seq_.get(),
                  [this](int client, int port) {
                    in_.Vanish(client, port);
                    out_.Vanish(client, port);
                  }),
        reader_(
            seq_.get(),
            [this](int port, snd_seq_addr_t source, const uint8_t* bytes, size_t count) {
              in_.Deliver(port, source, bytes, count);
            },
            [this] { in_.MarkLoss(); },
            [this](const snd_seq_event_t& event) { observer_.OnNotice(event); }) {}

  // Without the announcements (a sequencer that refuses the subscription) the devices still work;
  // one that goes away is then noticed only by the sessions' timeouts.
  bool Ready() const { return clientId_ >= 0 && reader_.Running(); }

  MidiInServices& In() override { return in_; }
  MidiOutServices& Out() override { return out_; }
  std::string Name() const override { return "alsa"; }

 private:
  // Declared in the order of construction; the reader stops first, the client closes last.
  SeqClient seq_;
  const int clientId_;
  SeqSender sender_;
  AlsaMidiIn in_;
  AlsaMidiOut out_;
  SeqDeviceObserver observer_;
  SeqReader reader_;
};

}  // namespace

std::unique_ptr<MidiBackend> OpenAlsaMidi(std::string* error, const AlsaConfig& config) {
  std::string reason;
  SeqClient seq = OpenSeqClient(kHostClientName, config, &reason);
  if (!seq) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  auto backend = std::make_unique<AlsaMidiBackend>(std::move(seq), config);
  if (!backend->Ready()) {
    if (error != nullptr) *error = "cannot start the ALSA sequencer input thread";
    return nullptr;
  }
  return backend;
}

}  // namespace kv5
