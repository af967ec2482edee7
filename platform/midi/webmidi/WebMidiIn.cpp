#include "platform/midi/webmidi/WebMidiBrowser.h"
#include "platform/midi/webmidi/WebMidiServices.h"

namespace kv5 {

WebMidiIn::~WebMidiIn() {
  std::map<MidiInHandle, std::unique_ptr<Device>> left;
  {
    std::lock_guard<std::mutex> hold(lock_);
    left.swap(open_);
  }
  for (const auto& [handle, device] : left) {
    WebMidiDeviceObserver::Instance().Forget(handle);
    kv5_webmidi_close(handle);
  }
}

SysexInputBuffers* WebMidiIn::Find(MidiInHandle handle) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = open_.find(handle);
  return found == open_.end() ? nullptr : &found->second->buffers;
}

MidiResult WebMidiIn::Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                           uintptr_t instance) {
  if (handle == nullptr || callback == nullptr) return MMSYSERR_INVALPARAM;
  WebMidiDeviceObserver& observer = WebMidiDeviceObserver::Instance();
  const MidiInHandle id = observer.NewHandle();
  auto opened = std::make_unique<Device>(id, callback, instance);
  Device* watched = opened.get();
  {
    std::lock_guard<std::mutex> hold(lock_);
    open_[id] = std::move(opened);
  }
  // Watched before the port opens: nothing arrives until Start, and a port that goes away while
  // opening is noticed.
  observer.Watch(id, watched);
  const MidiResult result = OpenBrowserPort(config_, list_, device, id);
  if (result != MMSYSERR_NOERROR) {
    observer.Forget(id);
    std::lock_guard<std::mutex> hold(lock_);
    open_.erase(id);
    return result;
  }
  *handle = id;
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiIn::Reset(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->Reset() : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiIn::PrepareHeader(MidiInHandle handle, MidiHeader* header) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->PrepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiIn::AddBuffer(MidiInHandle handle, MidiHeader* header) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->AddBuffer(header) : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiIn::Start(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->Start() : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiIn::Stop(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->Stop() : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiIn::UnprepareHeader(MidiInHandle handle, MidiHeader* header) {
  SysexInputBuffers* buffers = Find(handle);
  return buffers ? buffers->UnprepareHeader(header) : MMSYSERR_INVALHANDLE;
}

MidiResult WebMidiIn::Close(MidiInHandle handle) {
  SysexInputBuffers* buffers = Find(handle);
  if (buffers == nullptr) return MMSYSERR_INVALHANDLE;
  const MidiResult ready = buffers->CanClose();
  if (ready != MMSYSERR_NOERROR) return ready;
  WebMidiDeviceObserver::Instance().Forget(handle);
  kv5_webmidi_close(handle);
  std::unique_ptr<Device> closing;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = open_.find(handle);
    if (found == open_.end()) return MMSYSERR_INVALHANDLE;
    closing = std::move(found->second);
    open_.erase(found);
  }
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
