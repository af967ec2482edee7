#include "platform/midi/winmm/WinmmMidi.h"

namespace kv5 {
namespace {

class WinmmMidi : public MidiBackend {
 public:
  MidiInServices& In() override { return *in_; }
  MidiOutServices& Out() override { return *out_; }
  std::string Name() const override { return "winmm"; }

 private:
  std::unique_ptr<MidiInServices> in_ = MakeWinmmMidiIn();
  std::unique_ptr<MidiOutServices> out_ = MakeWinmmMidiOut();
};

}  // namespace

// Always there on Windows, even with no devices: the lists are then empty.
std::unique_ptr<MidiBackend> OpenWinmmMidi() {
  return std::make_unique<WinmmMidi>();
}

}  // namespace kv5
