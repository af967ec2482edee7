// What the browser tells the backend about the devices it has open, each in a turn of its own:
// the messages an input received, and a port that went away while open (statechange). Open
// devices register here under the handle the browser's side knows them by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

namespace kv5 {

class WebMidiOpenDevice {
 public:
  virtual ~WebMidiOpenDevice() = default;
  virtual void Received(const uint8_t* /*bytes*/, size_t /*count*/) {}
  virtual void Gone() = 0;
};

class WebMidiDeviceObserver {
 public:
  static WebMidiDeviceObserver& Instance();

  // A handle no open device had before, inputs and outputs alike.
  uintptr_t NewHandle();
  void Watch(uintptr_t handle, WebMidiOpenDevice* device);
  void Forget(uintptr_t handle);

  void Received(uintptr_t handle, const uint8_t* bytes, size_t count);
  void Gone(uintptr_t handle);

 private:
  WebMidiOpenDevice* Find(uintptr_t handle);

  std::mutex lock_;
  std::map<uintptr_t, WebMidiOpenDevice*> devices_;
  uintptr_t nextHandle_ = 1;
};

}  // namespace kv5
