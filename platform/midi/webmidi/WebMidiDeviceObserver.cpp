#include "platform/midi/webmidi/WebMidiDeviceObserver.h"

#include <emscripten.h>

#include "platform/event/web/BrowserTurn.h"

namespace kv5 {

WebMidiDeviceObserver& WebMidiDeviceObserver::Instance() {
  // Never destroyed: the browser may still report a port while the program ends.
  static auto* const observer = new WebMidiDeviceObserver;
  return *observer;
}

uintptr_t WebMidiDeviceObserver::NewHandle() {
  std::lock_guard<std::mutex> hold(lock_);
  return nextHandle_++;
}

void WebMidiDeviceObserver::Watch(uintptr_t handle, WebMidiOpenDevice* device) {
  std::lock_guard<std::mutex> hold(lock_);
  devices_[handle] = device;
}

void WebMidiDeviceObserver::Forget(uintptr_t handle) {
  std::lock_guard<std::mutex> hold(lock_);
  devices_.erase(handle);
}

WebMidiOpenDevice* WebMidiDeviceObserver::Find(uintptr_t handle) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto found = devices_.find(handle);
  return found == devices_.end() ? nullptr : found->second;
}

void WebMidiDeviceObserver::Received(uintptr_t handle, const uint8_t* bytes, size_t count) {
  if (WebMidiOpenDevice* device = Find(handle)) device->Received(bytes, count);
}

void WebMidiDeviceObserver::Gone(uintptr_t handle) {
  if (WebMidiOpenDevice* device = Find(handle)) device->Gone();
}

}  // namespace kv5

extern "C" EMSCRIPTEN_KEEPALIVE void kv5_webmidi_received(uintptr_t handle, const uint8_t* bytes,
                                                          uint32_t count) {
  kv5::RunBrowserTurn(
      [&] { kv5::WebMidiDeviceObserver::Instance().Received(handle, bytes, count); });
}

extern "C" EMSCRIPTEN_KEEPALIVE void kv5_webmidi_gone(uintptr_t handle) {
  kv5::RunBrowserTurn([&] { kv5::WebMidiDeviceObserver::Instance().Gone(handle); });
}
