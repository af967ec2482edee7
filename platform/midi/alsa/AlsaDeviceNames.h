// The names the device lists show for sequencer ports: the client's name when that client has
// exactly one port in the list, otherwise "client:port", cut to what a capability record holds;
// repeated names are numbered in list order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kv5 {

struct SeqPortLabel {
  int client = 0;
  std::string clientName;
  std::string portName;
};

// The longest name a device list entry carries (the record's 32 bytes less the zero).
constexpr size_t kMaxDeviceNameLength = 31;

// One name per port, in the order given; ports of one client count together.
std::vector<std::string> DeviceListNames(const std::vector<SeqPortLabel>& ports);

// Cuts a name to at most kMaxDeviceNameLength bytes without splitting a UTF-8 character.
std::string FitDeviceName(const std::string& name);

}  // namespace kv5
