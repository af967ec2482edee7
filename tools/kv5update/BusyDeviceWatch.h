// Tells whether the last open of a MIDI device failed because another program holds it
// (MMSYSERR_ALLOCATED), which the window's message box does not say. It passes every call through
// to the backend unchanged.
#pragma once

#include <atomic>

#include "platform/midi/MidiBackend.h"

namespace kv5 {

class BusyDeviceWatch : public MidiBackend {
 public:
  explicit BusyDeviceWatch(MidiBackend& backend);
  ~BusyDeviceWatch() override;

  MidiInServices& In() override;
  MidiOutServices& Out() override;
  std::string Name() const override { return backend_.Name(); }

  // The last open of an input or output device was refused as in use.
  bool LastOpenFoundDeviceBusy() const { return busy_.load(); }

 private:
  class InWatch;
  class OutWatch;

  MidiBackend& backend_;
  std::atomic<bool> busy_{false};
  std::unique_ptr<InWatch> in_;
  std::unique_ptr<OutWatch> out_;
};

}  // namespace kv5
