// One updater per device: a lock per open device, shared by the processes of one user through a
// file in a lock folder of that user. The kernel releases it when the process ends, however it
// ends. Within one process a device may be opened more than once; the lock is held while any of
// those opens lasts.
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
  Unavailable,  // the lock folder cannot be used; the device opens without a lock
};

// Claims the lock of key (any text that names the device and its direction) in folder, creating
// the folder (mode 0700) when it is missing. A folder that is not a directory owned by this user
// and closed to others is not used.
DeviceLockResult ClaimDeviceLock(const std::string& folder, const std::string& key,
                                 std::unique_ptr<DeviceLock>* held);

// This user's lock folder: under /run/user/<uid> when that is the user's own, else under /tmp.
std::string DefaultDeviceLockFolder();

}  // namespace kv5
