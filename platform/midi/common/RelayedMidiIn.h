// Input services that sit between a driver's input services and the port, for drivers that
// behave as real ones do rather than as the port expects:
// - A driver drops a SysEx message that arrives while it holds no buffer, and with the port's one
//   capture buffer there is such a moment after every message (under Wine the buffer comes back
//   through a notification thread, late enough to lose the next reply). So the driver gets
//   buffers of our own, several at a time, and goes on capturing while the port handles a
//   message; they go back to the driver from a thread of ours, not inside the driver's callback,
//   where the platform forbids most multimedia calls.
// - A message reaches the port only after the buffer that carried it is back with the driver.
//   The port's owner answers a reply with its next request, and the answer to that must find a
//   buffer queued: were the bytes passed on first, a hand-back thread that runs late (its first
//   wake-up after Open has been seen 130 ms late) would leave the driver without buffers after
//   as many exchanges as there are buffers, and the next reply would be dropped unseen.
// - The bytes they bring fill the port's buffer as SysexInputBuffers fills it for the other
//   backends: a message a driver returns in several pieces (neither full nor ending with F7)
//   becomes one buffer, up to a full one, and Stop and Reset drain as the port expects.
// - MIM_CLOSE reaches the port only when the driver sends it unasked (the device went away), not
//   when the port's own Close makes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi/common/BufferedMidiIn.h"

namespace kv5 {

class RelayedMidiIn : public BufferedMidiIn {
 public:
  // driverBuffers buffers of driverBufferSize bytes stay queued with the driver for each open
  // device.
  RelayedMidiIn(std::unique_ptr<MidiInServices> driver, int driverBuffers,
                uint32_t driverBufferSize);
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
  MidiResult Start(MidiInHandle handle) override;
  MidiResult Stop(MidiInHandle handle) override;
  MidiResult Close(MidiInHandle handle) override;

 private:
  struct DriverBuffer {
    explicit DriverBuffer(uint32_t size) : bytes(std::make_unique<uint8_t[]>(size)) {
      header.lpData = bytes.get();
      header.dwBufferLength = size;
    }
    MidiHeader header;
    std::unique_ptr<uint8_t[]> bytes;
  };

  // A buffer the driver handed back, and a copy of the bytes it brought, which the port gets once
  // the buffer is queued with the driver again.
  struct HandBack {
    MidiHeader* header;
    std::vector<uint8_t> bytes;
  };

  // The base's buffers are the port's, filled from ours.
  struct Device : BufferedMidiIn::Device {
    MidiInProc callback = nullptr;
    uintptr_t instance = 0;
    MidiInHandle portHandle = 0;  // what the port knows the device by
    MidiInHandle handle = 0;      // the driver's; set after its Open
    std::vector<std::unique_ptr<DriverBuffer>> driverBuffers;

    std::mutex lock;  // guards what follows
    std::condition_variable changed;
    std::deque<HandBack> handBacks;  // our buffers on their way back to the driver
    std::vector<MidiHeader*> held;   // our buffers the driver returned during a reset
    bool handingBack = false;        // the hand-back thread is re-queuing or passing bytes on
    bool holding = false;            // Reset or Close runs: returned buffers stay with us
    bool closing = false;            // the port's own Close runs
    bool gone = false;               // the driver said the device went away
    bool quit = false;
    std::thread thread;
  };

  static void DriverProc(MidiInHandle handle, uint32_t message, uintptr_t instance,
                         uintptr_t param1, uintptr_t param2);
  void HandBackLoop(Device& device);
  static void WaitForHandBacks(std::unique_lock<std::mutex>& hold, Device& device);
  static void EndThread(Device& device);
  // Prepares our buffers and queues every one the driver does not hold.
  MidiResult QueueBuffers(Device& device, std::vector<MidiHeader*> headers);
  std::shared_ptr<Device> Find(MidiInHandle handle) const;

  const std::unique_ptr<MidiInServices> driver_;
  const int driverBuffers_;
  const uint32_t driverBufferSize_;
};

}  // namespace kv5
