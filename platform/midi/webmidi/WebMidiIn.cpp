#include "platform/midi/webmidi/WebMidiIn.h"

#include "platform/midi/webmidi/WebMidiBrowser.h"

namespace kv5 {

WebMidiIn::~WebMidiIn() {
  for (const auto& device : devices_.TakeAll()) Closed(*device);
}

void WebMidiIn::Closed(BufferedMidiIn::Device& device) {
  const MidiInHandle handle = static_cast<Device&>(device).handle;
  WebMidiDeviceObserver::Instance().Forget(handle);
  kv5_webmidi_close(handle);
}

MidiResult WebMidiIn::Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                           uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  // Handles come from the observer, which knows inputs and outputs under one numbering.
  WebMidiDeviceObserver& observer = WebMidiDeviceObserver::Instance();
  auto opened = std::make_shared<Device>();
  opened->handle = observer.NewHandle();
  opened->buffers = std::make_unique<SysexInputBuffers>(opened->handle, callback, instance);
  // Watched before the port opens: nothing arrives until Start, and a port that goes away while
  // opening is noticed.
  observer.Watch(opened->handle, opened.get());
  const MidiResult result = list_.Open(config_, device, opened->handle);
  if (result != MMSYSERR_NOERROR) {
    observer.Forget(opened->handle);
    return result;
  }
  devices_.Insert(opened->handle, opened);
  *handle = opened->handle;
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
