#include "platform/midi/alsa/AlsaDeviceNames.h"

#include <map>

#include "platform/midi/common/ListedNames.h"

namespace kv5 {

std::string FitDeviceName(const std::string& name) {
  return FitListedName(name, kMaxDeviceNameLength);
}

std::vector<std::string> DeviceListNames(const std::vector<SeqPortLabel>& ports) {
  std::map<int, int> portsOfClient;
  for (const SeqPortLabel& port : ports) ++portsOfClient[port.client];
  std::vector<std::string> names;
  names.reserve(ports.size());
  for (const SeqPortLabel& port : ports) {
    const bool onlyPort = portsOfClient[port.client] == 1;
    names.push_back(onlyPort ? port.clientName : port.clientName + ":" + port.portName);
  }
  return DistinctListedNames(names);
}

}  // namespace kv5
