// Input services that sit between a driver's input services and the port, for drivers that
// behave as real ones do rather than as the port expects:
// - The port hands its capture buffer back from inside the input callback, where the platform
//   forbids most multimedia calls. A buffer handed back there goes to the driver from a thread
//   of this class instead; Stop and Reset first wait for those hand-backs, so Close drains as
//   before and the buffer is never left queued when it is unprepared.
// - Some drivers return one SysEx message in several buffers that are neither full nor end with
//   F7. Such pieces are kept and the buffer goes back to the driver, until a piece ends with F7 or
//   the bytes fill one buffer; the port then gets them as one buffer (what goes beyond a full
//   buffer starts the next one, as a message longer than the buffer does).
// - MIM_CLOSE reaches the port only when the driver sends it unasked (the device went away), not
//   when the port's own Close makes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi/MidiServices.h"

namespace kv5 {

class RelayedMidiIn : public MidiInServices {
 public:
  explicit RelayedMidiIn(std::unique_ptr<MidiInServices> driver);
  ~RelayedMidiIn() override;
  RelayedMidiIn(const RelayedMidiIn&) = delete;
  RelayedMidiIn& operator=(const RelayedMidiIn&) = delete;

  uint32_t GetNumDevs() override { return driver_->GetNumDevs(); }
  MidiResult GetDevCaps(uint32_t device, MidiDeviceCaps* caps) override {
    return driver_->GetDevCaps(device, caps);
  }
  MidiResult Open(MidiInHandle* handle, uint32_t device, MidiInProc callback,
                  uintptr_t instance) override;
  MidiResult Reset(MidiInHandle handle) override;
  MidiResult PrepareHeader(MidiInHandle handle, MidiHeader* header) override;
  MidiResult AddBuffer(MidiInHandle handle, MidiHeader* header) override;
  MidiResult Start(MidiInHandle handle) override;
  MidiResult Stop(MidiInHandle handle) override;
  MidiResult UnprepareHeader(MidiInHandle handle, MidiHeader* header) override;
  MidiResult Close(MidiInHandle handle) override;

 private:
  struct Device {
    RelayedMidiIn* owner = nullptr;
    MidiInHandle handle = 0;  // the driver's, which the port gets as well; set after Open
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;

    std::mutex lock;  // guards what follows
    std::condition_variable changed;
    std::deque<MidiHeader*> handBacks;  // buffers on their way back to the driver
    std::vector<uint8_t> joined;        // pieces of a message not yet complete
    bool handingBack = false;           // the hand-back thread is inside a call
    bool draining = false;              // Stop or Reset runs: pieces go to the port at once
    bool closing = false;               // the port's own Close runs
    bool gone = false;                  // the driver said the device went away
    bool quit = false;
    std::thread thread;
  };

  static void DriverProc(MidiInHandle handle, uint32_t message, uintptr_t instance,
                         uintptr_t param1, uintptr_t param2);
  void LongData(Device& device, MidiInHandle handle, MidiHeader* header);
  // Calls the port's callback; buffers it hands back meanwhile are queued for the thread.
  static void ToPort(Device& device, MidiInHandle handle, uint32_t message, uintptr_t param1,
                     uintptr_t param2);
  // Copies up to one buffer of joined bytes into the header; the rest stays joined.
  static void FillFromJoined(Device& device, MidiHeader* header);
  void HandBackLoop(Device& device);
  // Waits until every queued hand-back has reached the driver.
  static void WaitForHandBacks(std::unique_lock<std::mutex>& hold, Device& device);
  std::shared_ptr<Device> Find(MidiInHandle handle);

  const std::unique_ptr<MidiInServices> driver_;
  std::mutex lock_;  // guards devices_
  std::map<MidiInHandle, std::shared_ptr<Device>> devices_;
};

}  // namespace kv5
