#include "platform/midi/MidiBackend.h"

namespace kv5 {
namespace {

// A platform without any MIDI system: no devices, so every open fails as for a bad device.
class NoMidiIn : public MidiInServices {
 public:
  uint32_t GetNumDevs() override { return 0; }
  MidiResult GetDevCaps(uint32_t, MidiDeviceCaps*) override { return MMSYSERR_BADDEVICEID; }
  MidiResult Open(MidiInHandle*, uint32_t, MidiInProc, uintptr_t) override {
    return MMSYSERR_BADDEVICEID;
  }
  MidiResult Reset(MidiInHandle) override { return MMSYSERR_INVALHANDLE; }
  MidiResult PrepareHeader(MidiInHandle, MidiHeader*) override { return MMSYSERR_INVALHANDLE; }
  MidiResult AddBuffer(MidiInHandle, MidiHeader*) override { return MMSYSERR_INVALHANDLE; }
  MidiResult Start(MidiInHandle) override { return MMSYSERR_INVALHANDLE; }
  MidiResult Stop(MidiInHandle) override { return MMSYSERR_INVALHANDLE; }
  MidiResult UnprepareHeader(MidiInHandle, MidiHeader*) override { return MMSYSERR_INVALHANDLE; }
  MidiResult Close(MidiInHandle) override { return MMSYSERR_INVALHANDLE; }
};

class NoMidiOut : public MidiOutServices {
 public:
  uint32_t GetNumDevs() override { return 0; }
  MidiResult GetDevCaps(uint32_t, MidiDeviceCaps*) override { return MMSYSERR_BADDEVICEID; }
  MidiResult Open(MidiOutHandle*, uint32_t) override { return MMSYSERR_BADDEVICEID; }
  MidiResult Close(MidiOutHandle) override { return MMSYSERR_INVALHANDLE; }
  MidiResult PrepareHeader(MidiOutHandle, MidiHeader*) override { return MMSYSERR_INVALHANDLE; }
  MidiResult LongMsg(MidiOutHandle, MidiHeader*) override { return MMSYSERR_INVALHANDLE; }
  MidiResult Reset(MidiOutHandle) override { return MMSYSERR_INVALHANDLE; }
  MidiResult UnprepareHeader(MidiOutHandle, MidiHeader*) override { return MMSYSERR_INVALHANDLE; }
};

class NoMidiBackend : public MidiBackend {
 public:
  MidiInServices& In() override { return in_; }
  MidiOutServices& Out() override { return out_; }
  std::string Name() const override { return "none"; }

 private:
  NoMidiIn in_;
  NoMidiOut out_;
};

}  // namespace

std::unique_ptr<MidiBackend> MakeNoMidiBackend() {
  return std::make_unique<NoMidiBackend>();
}

}  // namespace kv5
