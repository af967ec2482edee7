#include "platform/midi/webmidi/WebMidiBrowser.h"
#include "platform/midi/webmidi/WebMidiServices.h"

namespace kv5 {

WebMidiOut::~WebMidiOut() {
  std::map<MidiOutHandle, std::unique_ptr<Device>> left;
  {
    std::lock_guard<std::mutex> hold(lock_);
    left.swap(open_);
  }
  for (const auto& [handle, device] : left) {
    WebMidiDeviceObserver::Instance().Forget(handle);
    kv5_webmidi_close(handle);
  }
}

WebMidiOut::Device* WebMidiOut::Find(MidiOutHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = open_.find(handle);
  return found == open_.end() ? nullptr : found->second.get();
}

MidiResult WebMidiOut::Open(MidiOutHandle* handle, uint32_t device) {
  if (handle == nullptr) return MMSYSERR_INVALPARAM;
  WebMidiDeviceObserver& observer = WebMidiDeviceObserver::Instance();
  const MidiOutHandle id = observer.NewHandle();
  auto opened = std::make_unique<Device>();
  observer.Watch(id, opened.get());
  // An unselected list hands the default device, which the browser does not have.
  const MidiResult result =
      device == MIDI_MAPPER ? MMSYSERR_BADDEVICEID : OpenBrowserPort(config_, list_, device, id);
  if (result != MMSYSERR_NOERROR) {
    observer.Forget(id);
    return result;
  }
  std::lock_guard<std::mutex> hold(lock_);
  open_[id] = std::move(opened);
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::Close(MidiOutHandle handle) {
  std::unique_ptr<Device> closing;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = open_.find(handle);
    if (found == open_.end()) return MMSYSERR_INVALHANDLE;
    closing = std::move(found->second);
    open_.erase(found);
  }
  WebMidiDeviceObserver::Instance().Forget(handle);
  kv5_webmidi_close(handle);
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::PrepareHeader(MidiOutHandle handle, MidiHeader* header) {
  Device* device = Find(handle);
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (device->gone) return MMSYSERR_NODRIVER;
  if (header == nullptr || header->lpData == nullptr || header->dwBufferLength == 0) {
    return MMSYSERR_INVALPARAM;
  }
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::LongMsg(MidiOutHandle handle, MidiHeader* header) {
  Device* device = Find(handle);
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
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
  return Find(handle) == nullptr ? MMSYSERR_INVALHANDLE : MMSYSERR_NOERROR;
}

MidiResult WebMidiOut::UnprepareHeader(MidiOutHandle handle, MidiHeader* header) {
  Device* device = Find(handle);
  if (device == nullptr) return MMSYSERR_INVALHANDLE;
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
