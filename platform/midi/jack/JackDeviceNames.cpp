#include "platform/midi/jack/JackDeviceNames.h"

#include <algorithm>
#include <map>

namespace kv5 {
namespace {

std::string ClientOf(const std::string& port) {
  return port.substr(0, port.find(':'));
}

}  // namespace

std::string TruncateUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  // Step back over continuation bytes (10xxxxxx) to the start of the cut sequence.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::vector<JackDevice> NameJackDevices(std::vector<std::string> ports) {
  std::stable_sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return ClientOf(a) < ClientOf(b);
  });
  std::map<std::string, int> perClient;
  for (const auto& port : ports) ++perClient[ClientOf(port)];
  std::vector<JackDevice> devices;
  devices.reserve(ports.size());
  for (const auto& port : ports) {
    const std::string client = ClientOf(port);
    devices.push_back({port, TruncateUtf8(perClient[client] == 1 ? client : port, kMaxDeviceName)});
  }
  return devices;
}

}  // namespace kv5
