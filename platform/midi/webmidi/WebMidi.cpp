#include "platform/midi/webmidi/WebMidi.h"

#include "platform/midi/webmidi/WebMidiIn.h"
#include "platform/midi/webmidi/WebMidiOut.h"

namespace kv5 {

namespace {

class WebMidiBackend : public MidiBackend {
 public:
  explicit WebMidiBackend(const WebMidiConfig& config) : in_(config), out_(config) {}
  MidiInServices& In() override { return in_; }
  MidiOutServices& Out() override { return out_; }
  std::string Name() const override { return "webmidi"; }

 private:
  WebMidiIn in_;
  WebMidiOut out_;
};

}  // namespace

std::unique_ptr<MidiBackend> OpenWebMidi(const WebMidiConfig& config) {
  return std::make_unique<WebMidiBackend>(config);
}

}  // namespace kv5
