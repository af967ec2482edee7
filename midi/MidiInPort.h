// The connection to one MIDI input device: keeps one capture buffer with the device and turns
// every SysEx buffer the device hands back into an entry of the received queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "protocol/ReceivedSysexQueue.h"

namespace kv5 {

class MidiInPort {
 public:
  static constexpr uint32_t kCaptureBufferSize = 8192;
  static constexpr int kDeviceNameCapacity = 40;

  explicit MidiInPort(MidiInServices& services);
  ~MidiInPort();
  MidiInPort(const MidiInPort&) = delete;
  MidiInPort& operator=(const MidiInPort&) = delete;

  int GetDeviceCount();
  // Copies the device's name (at most 31 characters and a zero) into name, which holds
  // kDeviceNameCapacity bytes. An empty name when the query fails. 1 when it succeeded, else 0.
  int GetDeviceName(int index, char* name);
  // 1 when the device at DeviceIndex is open and capturing (or was open already), 0 on failure.
  // A failed Open releases what it acquired.
  int Open();
  int Close();
  int CloseIfOpen();
  const SysexEntry* PeekSysex() const { return queue_.PeekSysex(); }
  int PopSysex() { return queue_.PopSysex(); }
  ReceivedSysexQueue& Queue() { return queue_; }

  // Called on the input thread each time a message has been queued, so that its consumer can run
  // at once instead of at its next poll. Set before the first Open; none by default.
  using QueuedNotice = void (*)(uintptr_t user);
  void SetQueuedNotice(QueuedNotice notice, uintptr_t user);

  // The device's input events; runs on the backend's input thread.
  void OnMidiInput(uint32_t message, uintptr_t param1);

  // Called (on the backend's input thread) when the open device goes away. Set before Open.
  void SetVanishedNotice(std::function<void()> notice) { vanished_ = std::move(notice); }

  int DeviceIndex = 0;  // written by the owner before Open
  bool IsOpen() const { return isOpen_ != 0; }

 private:
  static void InputProc(MidiInHandle device, uint32_t message, uintptr_t instance, uintptr_t param1,
                        uintptr_t param2);
  // Stop (when asked), Reset, Unprepare and Close, each only after the one before succeeded; true
  // when the device is closed and no longer holds the capture buffer.
  bool ShutDownDevice(bool stop);
  void ReleaseCapture();
  // Keeps header and buffer alive when the device could not be shut down and may still hold them.
  void RetireCapture();

  struct RetiredCapture {
    std::unique_ptr<MidiHeader> header;
    std::unique_ptr<uint8_t[]> buffer;
  };

  MidiInServices& services_;
  MidiInHandle Handle = 0;
  std::unique_ptr<MidiHeader> CaptureHeader;
  std::unique_ptr<uint8_t[]> CaptureBuffer;
  int isOpen_ = 0;
  std::vector<RetiredCapture> retired_;
  std::function<void()> vanished_;
  QueuedNotice queuedNotice_ = nullptr;
  uintptr_t queuedNoticeUser_ = 0;
  ReceivedSysexQueue queue_;
};

}  // namespace kv5
