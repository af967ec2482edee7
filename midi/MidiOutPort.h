// The connection to one MIDI output device: sends one SysEx message at a time and returns only
// when the device has finished with the caller's buffer (or the bounded wait for it ran out).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/midi/MidiServices.h"

namespace kv5 {

class MidiOutPort {
 public:
  static constexpr int kDeviceNameCapacity = 40;
  // The longest message (4700 bytes) takes about 1.5 s on a 31250-baud link; a device that has
  // not finished a buffer after this long never will, and the send fails instead of hanging.
  static constexpr uint32_t kDefaultCompletionLimitMs = 10000;

  explicit MidiOutPort(MidiOutServices& services,
                       uint32_t completionLimitMs = kDefaultCompletionLimitMs);
  ~MidiOutPort();
  MidiOutPort(const MidiOutPort&) = delete;
  MidiOutPort& operator=(const MidiOutPort&) = delete;

  int GetDeviceCount();
  // As the input port's: at most 31 characters and a zero into a field of kDeviceNameCapacity
  // bytes, empty when the query fails. 1 when it succeeded, else 0.
  int GetDeviceName(int index, char* name);
  // 1 when the device is open, 0 on failure; DeviceIndex keeps the index either way.
  int Open(int deviceIndex);
  // 1 when a device was closed, 0 when the port was closed already.
  int Close();
  // 1 when the message was sent and the device has finished with the buffer, 0 on failure.
  int SendLong(MidiHeader* header);

  int DeviceIndex() const;
  bool IsOpen() const;

  // Called (on the sending thread) when a send finds that the open device has gone away; the
  // send fails. Set before Open.
  void SetVanishedNotice(std::function<void()> notice) { vanished_ = std::move(notice); }

 private:
  int CloseLocked();
  // False, after the notice, when result says the device has gone.
  bool StillThere(MidiResult result) const;
  // Sleeps until the backend marks the header done, up to the completion limit.
  bool WaitUntilDone(const MidiHeader& header) const;
  void SetHandle(MidiOutHandle handle);
  void SetDeviceIndex(int index);

  MidiOutServices& services_;
  const uint32_t completionLimitMs_;
  mutable std::mutex SendLock;
  MidiOutHandle Handle = 0;
  int deviceIndex_ = 0;
  // Copies for readers on other threads, which must not wait for a send to finish.
  std::atomic<int> shownIndex_{0};
  std::atomic<bool> shownOpen_{false};
  std::function<void()> vanished_;
};

}  // namespace kv5
