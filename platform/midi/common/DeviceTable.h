// The open devices of a backend's services by handle, safe to use from the owner's thread and
// from the backend's own threads (a reader, an observer, a driver's callback). An entry found
// stays alive while its finder holds it, even when the device is closed meanwhile.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kv5 {

template <typename Handle, typename Device>
class DeviceTable {
 public:
  // A handle of the table's own for a device about to open; handles are never reused.
  Handle NewHandle() {
    std::lock_guard<std::mutex> hold(lock_);
    return next_++;
  }
  // Enters an opened device under its handle (a new one, or one its driver gave it).
  void Insert(Handle handle, std::shared_ptr<Device> device) {
    std::lock_guard<std::mutex> hold(lock_);
    devices_[handle] = std::move(device);
  }
  // The device of a handle; null when none is open under it.
  std::shared_ptr<Device> Find(Handle handle) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second;
  }
  // Removes the device of a handle and gives it to the caller; null when none.
  std::shared_ptr<Device> Take(Handle handle) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = devices_.find(handle);
    if (found == devices_.end()) return nullptr;
    std::shared_ptr<Device> device = std::move(found->second);
    devices_.erase(found);
    return device;
  }
  // Every open device, in handle order.
  std::vector<std::shared_ptr<Device>> All() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::shared_ptr<Device>> all;
    for (const auto& entry : devices_) all.push_back(entry.second);
    return all;
  }
  // Removes every device and gives them to the caller, who ends them outside the table's lock.
  std::vector<std::shared_ptr<Device>> TakeAll() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::shared_ptr<Device>> all;
    for (auto& entry : devices_) all.push_back(std::move(entry.second));
    devices_.clear();
    return all;
  }

 private:
  mutable std::mutex lock_;
  std::map<Handle, std::shared_ptr<Device>> devices_;
  Handle next_ = 1;
};

}  // namespace kv5
