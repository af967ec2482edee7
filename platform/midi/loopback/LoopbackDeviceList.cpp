#include "platform/midi/loopback/LoopbackDeviceList.h"

#include <algorithm>
#include <cstring>

namespace kv5 {

LoopbackEndpoint& LoopbackDeviceList::Add(const std::string& name) {
  std::lock_guard<std::mutex> hold(lock_);
  devices_.push_back(std::make_unique<LoopbackEndpoint>(name));
  return *devices_.back();
}

uint32_t LoopbackDeviceList::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<uint32_t>(devices_.size());
}

MidiResult LoopbackDeviceList::Caps(uint32_t device, MidiDeviceCaps* caps) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (device >= devices_.size()) return MMSYSERR_BADDEVICEID;
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  const std::string name = devices_[device]->Name();
  std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname - 1));
  return MMSYSERR_NOERROR;
}

LoopbackEndpoint* LoopbackDeviceList::Device(uint32_t device) const {
  std::lock_guard<std::mutex> hold(lock_);
  return device < devices_.size() ? devices_[device].get() : nullptr;
}

}  // namespace kv5
