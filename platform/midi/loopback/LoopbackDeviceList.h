// The loopback system's devices, in the order they were added: device i is input i and output i
// to the host. Devices are only ever added, so an index stays the same device for good.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/loopback/LoopbackEndpoint.h"

namespace kv5 {

class LoopbackDeviceList {
 public:
  LoopbackEndpoint& Add(const std::string& name);
  uint32_t Count() const;
  MidiResult Caps(uint32_t device, MidiDeviceCaps* caps) const;
  // The device of an index; null when there is none.
  LoopbackEndpoint* Device(uint32_t device) const;

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<LoopbackEndpoint>> devices_;
};

}  // namespace kv5
