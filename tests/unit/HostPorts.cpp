#include "unit/HostPorts.h"

#include <algorithm>
#include <thread>

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

int IndexOf(const std::vector<std::string>& names, const std::string& name) {
  const auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

}  // namespace

std::vector<std::string> InDeviceNames(MidiBackend& backend) {
  return Names(backend.In());
}
std::vector<std::string> OutDeviceNames(MidiBackend& backend) {
  return Names(backend.Out());
}

HostPorts::~HostPorts() {
  out_.Close();
  in_.CloseIfOpen();
}

bool HostPorts::Open(const std::string& name) {
  const int outIndex = IndexOf(OutDeviceNames(backend_), name);
  const int inIndex = IndexOf(InDeviceNames(backend_), name);
  if (outIndex < 0 || inIndex < 0) return false;
  if (out_.Open(outIndex) != 1) return false;
  in_.DeviceIndex = inIndex;
  return in_.Open() == 1;
}

bool HostPorts::Send(std::vector<uint8_t> message) {
  MidiHeader header;
  header.lpData = message.data();
  header.dwBufferLength = static_cast<uint32_t>(message.size());
  return out_.SendLong(&header) == 1;
}

std::vector<uint8_t> HostPorts::Receive(std::chrono::milliseconds limit) {
  std::vector<uint8_t> joined;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const SysexEntry* entry = in_.PeekSysex();
    if (entry == nullptr) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    joined.insert(joined.end(), entry->bytes.get(), entry->bytes.get() + entry->length);
    in_.PopSysex();
    if (!joined.empty() && joined.back() == 0xF7) return joined;
  }
  return {};
}

std::vector<uint8_t> HostPorts::Ask(std::vector<uint8_t> request, std::chrono::milliseconds limit) {
  if (!Send(std::move(request))) return {};
  return Receive(limit);
}

}  // namespace kv5::test
