#include "platform/midi/jack/JackDeviceNames.h"

#include <algorithm>
#include <map>

#include "platform/midi/common/ListedNames.h"

namespace kv5 {
namespace {

std::string ClientOf(const std::string& port) {
  return ClientOfPort(port);
}

}  // namespace

std::string ClientOfPort(const std::string& port) {
  return port.substr(0, port.find(':'));
}

bool IsUpdaterClient(const std::string& client, const std::string& updaterName) {
  if (client == updaterName) return true;
  if (client.size() <= updaterName.size() + 1 || client.compare(0, updaterName.size(), updaterName))
    return false;
  if (client[updaterName.size()] != '-') return false;
  for (size_t i = updaterName.size() + 1; i < client.size(); ++i) {
    if (client[i] < '0' || client[i] > '9') return false;
  }
  return true;
}

std::string TruncateUtf8(const std::string& text, size_t limit) {
  return FitListedName(text, limit);
}

std::vector<JackDevice> NameJackDevices(std::vector<std::string> ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return ClientOf(a) < ClientOf(b);
  });
  std::map<std::string, int> perClient;
  for (const auto& port : ports) ++perClient[ClientOf(port)];
  std::vector<std::string> shown;
  shown.reserve(ports.size());
  for (const auto& port : ports) {
    const std::string client = ClientOf(port);
    shown.push_back(perClient[client] == 1 ? client : port);
  }
  shown = DistinctListedNames(shown);
  std::vector<JackDevice> devices;
  devices.reserve(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) devices.push_back({ports[i], shown[i]});
  return devices;
}

}  // namespace kv5
