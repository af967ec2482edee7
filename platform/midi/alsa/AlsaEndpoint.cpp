#include <mutex>

#include "platform/midi/alsa/AlsaMidi.h"
#include "platform/midi/alsa/AlsaSeqClient.h"
#include "platform/midi/alsa/AlsaSeqReader.h"
#include "platform/midi/alsa/AlsaSeqSender.h"
#include "platform/midi/alsa/SysexAssembler.h"

namespace kv5 {
namespace {

constexpr unsigned int kPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;

// A published client: its input port takes what others send, its output port feeds those who
// subscribe to it.
class AlsaEndpoint : public MidiEndpoint {
 public:
  AlsaEndpoint(SeqClient seq, std::string name, int inPort, int outPort, const AlsaConfig& config)
      : seq_(std::move(seq)),
        name_(std::move(name)),
        inPort_(inPort),
        outPort_(outPort),
        sender_(seq_.get(), config),
        assembler_(config.longestEndpointMessage),
        reader_(
            seq_.get(),
            [this](int port, snd_seq_addr_t, const uint8_t* bytes, size_t count) {
              Received(port, bytes, count);
            },
            [this] { Lost(); }) {}

  bool Ready() const { return reader_.Running(); }

  void SetReceiver(Receiver receiver) override {
    std::lock_guard<std::mutex> hold(receiverLock_);
    receiver_ = std::move(receiver);
  }

  bool Send(const uint8_t* bytes, size_t length) override {
    return sender_.Send(outPort_, bytes, length, nullptr, [] { return false; }) ==
           SeqSender::Outcome::Sent;
  }

  std::string Name() const override { return name_; }

 private:
  void Received(int port, const uint8_t* bytes, size_t count) {
    if (port != inPort_) return;
    std::lock_guard<std::mutex> hold(receiverLock_);
    assembler_.Feed(bytes, count, [this](const uint8_t* message, size_t length) {
      if (receiver_) receiver_(message, length);
    });
  }

  // Lost events leave a hole in the message being assembled: it is dropped.
  void Lost() {
    std::lock_guard<std::mutex> hold(receiverLock_);
    assembler_.Drop();
  }

  // Declared in the order of construction; the reader stops first, the client closes last.
  SeqClient seq_;
  const std::string name_;
  const int inPort_;
  const int outPort_;
  SeqSender sender_;
  std::mutex receiverLock_;  // guards receiver_ and assembler_
  Receiver receiver_;
  SysexAssembler assembler_;
  SeqReader reader_;
};

}  // namespace

std::unique_ptr<MidiEndpoint> OpenAlsaEndpoint(const std::string& name, std::string* error,
                                               const AlsaConfig& config) {
  std::string reason;
  SeqClient seq = OpenSeqClient(name, config, &reason);
  if (!seq) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  const int inPort = snd_seq_create_simple_port(
      seq.get(), "MIDI In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, kPortType);
  const int outPort = snd_seq_create_simple_port(
      seq.get(), "MIDI Out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, kPortType);
  if (inPort < 0 || outPort < 0) {
    if (error != nullptr)
      *error = std::string("cannot create the ports of the ALSA sequencer client: ") +
               snd_strerror(inPort < 0 ? inPort : outPort);
    return nullptr;
  }
  auto endpoint = std::make_unique<AlsaEndpoint>(std::move(seq), name, inPort, outPort, config);
  if (!endpoint->Ready()) {
    if (error != nullptr) *error = "cannot start the ALSA sequencer input thread";
    return nullptr;
  }
  return endpoint;
}

}  // namespace kv5
