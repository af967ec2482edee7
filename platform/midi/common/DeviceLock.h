// One updater per device: a lock per open device, shared by every process of the machine (of
// every user, whichever MIDI system it reaches the device through), held in the name of an
// abstract local socket. The kernel releases it when the process ends, however it ends. Within one
// process a device may be opened more than once; the lock is held while any of those opens lasts.
#pragma once

#include <memory>
#include <string>

namespace kv5 {

class DeviceLock {
 public:
  virtual ~DeviceLock() = default;
};

enum class DeviceLockResult {
  Held,         // the lock is this process's until the returned object goes
  TakenByPeer,  // another process has the device open
  Unavailable,  // no local socket can be made; the device opens without a lock
};

// Claims the lock of key (any text that names the device and its direction). space keeps a set of
// locks apart from the updater's own (tests); empty for the updater's.
DeviceLockResult ClaimDeviceLock(const std::string& key, std::unique_ptr<DeviceLock>* held,
                                 const std::string& space = "");

// The key of one direction of a sound card's MIDI port, the same whichever way it is reached:
// the card's raw device, the sequencer's bridge, a JACK server's bridge. The card's long name
// carries where it is plugged in (its USB path), so two units of one model differ.
std::string CardPortLockKey(const std::string& cardLongName, int device, int subdevice,
                            bool output);

}  // namespace kv5
