#include "support/DeviceLists.h"

#include <algorithm>

namespace kv5::test {
namespace {

template <typename Services>
std::vector<std::string> Names(Services& services) {
  std::vector<std::string> names;
  const uint32_t count = services.GetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    MidiDeviceCaps caps;
    names.push_back(services.GetDevCaps(i, &caps) == MMSYSERR_NOERROR ? caps.szPname : "");
  }
  return names;
}

}  // namespace

std::vector<std::string> DeviceNames(MidiInServices& services) {
  return Names(services);
}

std::vector<std::string> DeviceNames(MidiOutServices& services) {
  return Names(services);
}

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

}  // namespace kv5::test
