#include "platform/midi/alsa/AlsaDeviceNames.h"

#include <map>

namespace kv5 {

std::string FitDeviceName(const std::string& name) {
  if (name.size() <= kMaxDeviceNameLength) return name;
  size_t length = kMaxDeviceNameLength;
  // Step back over continuation bytes so the cut falls before a character, not inside one.
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  return name.substr(0, length);
}

std::vector<std::string> DeviceListNames(const std::vector<SeqPortLabel>& ports) {
  std::map<int, int> portsOfClient;
  for (const SeqPortLabel& port : ports) ++portsOfClient[port.client];
  std::vector<std::string> names;
  names.reserve(ports.size());
  for (const SeqPortLabel& port : ports) {
    const bool onlyPort = portsOfClient[port.client] == 1;
    names.push_back(
        FitDeviceName(onlyPort ? port.clientName : port.clientName + ":" + port.portName));
  }
  return names;
}

}  // namespace kv5
