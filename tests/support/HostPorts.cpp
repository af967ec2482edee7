#include "support/HostPorts.h"

#include <thread>

#include "support/DeviceLists.h"

namespace kv5::test {

HostPorts::~HostPorts() {
  Close();
}

bool HostPorts::Open(const std::string& name) {
  Close();
  const int outIndex = IndexOf(DeviceNames(backend_.Out()), name);
  const int inIndex = IndexOf(DeviceNames(backend_.In()), name);
  if (outIndex < 0 || inIndex < 0) return false;
  if (out_.Open(outIndex) != 1) return false;
  in_.DeviceIndex = inIndex;
  return in_.Open() == 1;
}

void HostPorts::Close() {
  out_.Close();
  in_.CloseIfOpen();
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
