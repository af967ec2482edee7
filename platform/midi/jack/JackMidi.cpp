#include "platform/midi/jack/JackMidi.h"

#include "platform/midi/jack/JackDeviceObserver.h"
#include "platform/midi/jack/JackMidiIn.h"
#include "platform/midi/jack/JackMidiOut.h"

namespace kv5 {
namespace {

class JackMidiBackend : public MidiBackend {
 public:
  JackMidiBackend(std::unique_ptr<JackClient> client, const JackConfig& config)
      : link_(std::move(client), config),
        in_(link_),
        out_(link_),
        observer_(std::make_unique<JackDeviceObserver>(link_, [this] {
          in_.CheckDevices();
          out_.CheckDevices();
        })) {}
  // The observer stops first, then the cycles, so the devices that are still open come apart
  // without either.
  ~JackMidiBackend() override {
    observer_.reset();
    link_.Current()->Deactivate();
  }

  MidiInServices& In() override { return in_; }
  MidiOutServices& Out() override { return out_; }
  std::string Name() const override { return "jack"; }

 private:
  JackLink link_;
  JackMidiIn in_;
  JackMidiOut out_;
  std::unique_ptr<JackDeviceObserver> observer_;
};

}  // namespace

std::unique_ptr<MidiBackend> OpenJackMidi(std::string* error) {
  return OpenJackMidi(JackConfig{}, error);
}

std::unique_ptr<MidiBackend> OpenJackMidi(const JackConfig& config, std::string* error) {
  std::string reason;
  auto client = JackClient::Open(config.clientName, /*exactName=*/false, &reason);
  if (!client) {
    if (error != nullptr) *error = reason;
    return nullptr;
  }
  return std::make_unique<JackMidiBackend>(std::move(client), config);
}

}  // namespace kv5
