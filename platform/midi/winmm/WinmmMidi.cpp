#include "platform/midi/winmm/WinmmMidi.h"

#include "platform/midi/common/RelayedMidiIn.h"
#include "platform/midi/winmm/WinmmOutCalls.h"

namespace kv5 {
namespace {

class WinmmMidi : public MidiBackend {
 public:
  explicit WinmmMidi(const WinmmConfig& config)
      : in_(std::make_unique<RelayedMidiIn>(MakeWinmmMidiIn(), config.inputBuffers,
                                            config.inputBufferSize)),
        out_(MakeWinmmMidiOut(WinmmOutCalls{}, config)) {}

  MidiInServices& In() override { return *in_; }
  MidiOutServices& Out() override { return *out_; }
  std::string Name() const override { return "winmm"; }

 private:
  // The port's capture buffer goes back to the driver from a thread of our own, and a driver's
  // pieces of one message are joined (see RelayedMidiIn.h).
  std::unique_ptr<MidiInServices> in_;
  std::unique_ptr<MidiOutServices> out_;
};

}  // namespace

// Always there on Windows, even with no devices: the lists are then empty.
std::unique_ptr<MidiBackend> OpenWinmmMidi(const WinmmConfig& config) {
  return std::make_unique<WinmmMidi>(config);
}

}  // namespace kv5
