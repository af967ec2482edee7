#include "tools/kv5update/MidiSetup.h"

#include "platform/midi/SystemMidi.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "unit/PacedLink.h"
#include "unit/VirtualUnit.h"

namespace kv5 {

MidiSetup::~MidiSetup() {
  // The unit stops before the line and the loopback that carry its endpoint go away.
  unit_.reset();
  link_.reset();
  backend_.reset();
}

std::unique_ptr<MidiSetup> MidiSetup::Open(const FrontEndOptions& options, std::string* error) {
  error->clear();
  std::unique_ptr<MidiSetup> setup(new MidiSetup());
  switch (options.backend) {
    case BackendChoice::Default:
      setup->backend_ = OpenDefaultMidiSystem();
      break;
    case BackendChoice::Alsa:
      setup->backend_ = OpenMidiSystem(MidiSystem::Alsa);
      if (!setup->backend_) *error = "The ALSA sequencer cannot be opened (is snd-seq loaded?).";
      break;
    case BackendChoice::Jack:
      setup->backend_ = OpenMidiSystem(MidiSystem::Jack);
      if (!setup->backend_) *error = "No JACK server is running.";
      break;
    case BackendChoice::Virtual: {
      auto loopback = std::make_unique<LoopbackMidi>();
      UnitConfig config = options.unit;
      MidiEndpoint* endpoint = &loopback->AddDevice("TELVOR Q9");
      if (config.pacing.bytesPerSecond != 0) {
        // The line's speed is the line's: the host's send takes the wire time before its reply
        // wait begins, as on a real interface, rather than the unit answering that much later.
        setup->link_ = std::make_unique<PacedLink>(*endpoint, config.pacing.bytesPerSecond);
        config.pacing.bytesPerSecond = 0;
        endpoint = setup->link_.get();
      }
      setup->unit_ = std::make_unique<VirtualUnit>(*endpoint, config);
      setup->backend_ = std::move(loopback);
      if (!setup->unit_->Start()) *error = "The virtual unit did not start.";
      break;
    }
  }
  if (!setup->backend_ || !error->empty()) return nullptr;
  return setup;
}

}  // namespace kv5
