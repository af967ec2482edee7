#include "platform/midi/loopback/LoopbackMidi.h"

#include "platform/midi/loopback/LoopbackDeviceList.h"
#include "platform/midi/loopback/LoopbackMidiIn.h"
#include "platform/midi/loopback/LoopbackMidiOut.h"

namespace kv5 {

// The services go before the devices they were opened on.
struct LoopbackMidi::Impl {
  LoopbackDeviceList devices;
  LoopbackMidiIn in{devices};
  LoopbackMidiOut out{devices};
};

LoopbackMidi::LoopbackMidi() : impl_(std::make_unique<Impl>()) {}

LoopbackMidi::~LoopbackMidi() = default;

MidiEndpoint& LoopbackMidi::AddDevice(const std::string& name) {
  return impl_->devices.Add(name);
}

MidiInServices& LoopbackMidi::In() {
  return impl_->in;
}

MidiOutServices& LoopbackMidi::Out() {
  return impl_->out;
}

}  // namespace kv5
