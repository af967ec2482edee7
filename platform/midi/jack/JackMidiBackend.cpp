#include "platform/midi/jack/JackMidi.h"
#include "platform/midi/jack/JackMidiServices.h"

namespace kv5 {
namespace {

class JackMidiBackend : public MidiBackend {
 public:
  JackMidiBackend(std::unique_ptr<JackClient> client, const JackMidiConfig& config)
      : client_(std::move(client)), in_(*client_, config), out_(*client_, config) {}
  // Cycles stop first, so the devices that are still open come apart without the callback.
  ~JackMidiBackend() override { client_->Deactivate(); }

  MidiInServices& In() override { return in_; }
  MidiOutServices& Out() override { return out_; }
  std::string Name() const override { return "jack"; }

 private:
  std::unique_ptr<JackClient> client_;
  JackMidiIn in_;
  JackMidiOut out_;
};

}  // namespace

std::unique_ptr<MidiBackend> OpenJackMidi(std::string* error) {
  return OpenJackMidi(JackMidiConfig{}, error);
}

std::unique_ptr<MidiBackend> OpenJackMidi(const JackMidiConfig& config, std::string* error) {
  std::string reason;
  auto client = JackClient::Open(config.clientName, /*exactName=*/false, &reason);
  if (!client) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  return std::make_unique<JackMidiBackend>(std::move(client), config);
}

}  // namespace kv5
