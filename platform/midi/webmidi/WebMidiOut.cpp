#include "platform/midi/webmidi/WebMidiOut.h"

#include "platform/midi/webmidi/WebMidiBrowser.h"

namespace kv5 {

WebMidiOut::~WebMidiOut() {
  for (const auto& device : devices_.TakeAll()) Closed(*device);
}

void WebMidiOut::Closed(const Device& device) {
  WebMidiDeviceObserver::Instance().Forget(device.handle);
  kv5_webmidi_close(device.handle);
}

MidiResult WebMidiOut::Open(MidiOutHandle* handle, uint32_t device) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  // Handles come from the observer, which knows inputs and outputs under one numbering.
  WebMidiDeviceObserver& observer = WebMidiDeviceObserver::Instance();
  auto opened = std::make_shared<Device>();
  opened->handle = observer.NewHandle();
  observer.Watch(opened->handle, opened.get());
  // An unselected list hands the default device, which the browser does not have.
  const MidiResult result =
      device == MIDI_MAPPER ? MMSYSERR_BADDEVICEID : list_.Open(config_, device, opened->handle);
  if (result != MMSYSERR_NOERROR) {
    observer.Forget(opened->handle);
    return result;
  }
  devices_.Insert(opened->handle, opened);
  *handle = opened->handle;
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::Close(MidiOutHandle handle) {
  const auto closing = devices_.Take(handle);
  if (!closing) return MMSYSERR_INVALHANDLE;
  Closed(*closing);
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::PrepareHeader(MidiOutHandle handle, MidiHeader* header) {
  const auto device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (device->gone) return MMSYSERR_NODRIVER;
  if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0) {
    return MMSYSERR_INVALPARAM;
  }
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::LongMsg(MidiOutHandle handle, MidiHeader* header) {
  const auto device = devices_.Find(handle);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0) {
    return MMSYSERR_INVALPARAM;
  }
  const uint32_t flags = header->dwFlags;
  if (!(flags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  if ((flags & MHDR_INQUEUE) && !(flags & MHDR_DONE)) return MIDIERR_STILLPLAYING;
  if (device->gone) return MMSYSERR_NODRIVER;
  const MidiResult sent = kv5_webmidi_send(handle, header->lpData, header->dwBufferLength);
  if (sent == MMSYSERR_NODRIVER) device->gone = true;
  if (sent != MMSYSERR_NOERROR) return sent;
  header->dwFlags = (flags & ~MHDR_DONE) | MHDR_INQUEUE;
  MarkHeaderDone(header);
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::Reset(MidiOutHandle handle) {
  // Nothing is ever left queued: every message went to the browser whole in its LongMsg.
  return devices_.Find(handle) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiOut::UnprepareHeader(MidiOutHandle handle, MidiHeader* header) {
  if (!devices_.Find(handle)) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
