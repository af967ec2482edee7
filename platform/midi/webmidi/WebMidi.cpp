#include "platform/midi/webmidi/WebMidi.h"

#include "platform/event/web/BrowserPromise.h"
#include "platform/midi/webmidi/WebMidiBrowser.h"
#include "platform/midi/webmidi/WebMidiServices.h"

namespace kv5 {

MidiResult OpenBrowserPort(const WebMidiConfig& config, const WebMidiDeviceList& list,
                           uint32_t device, uintptr_t handle) {
  if (!list.Listed(device)) return MMSYSERR_BADDEVICEID;
  BrowserPromise opened;
  const MidiResult started = kv5_webmidi_open(list.Direction(), device, handle, opened.Ticket(),
                                              config.lockDevices ? 1 : 0);
  if (started != MMSYSERR_NOERROR) return started;
  int result = MMSYSERR_ERROR;
  if (!opened.Wait(config.openLimitMs, &result)) {
    kv5_webmidi_close(handle);  // the opening that is still under way is cancelled
    return MMSYSERR_ERROR;
  }
  return static_cast<MidiResult>(result);
}

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
