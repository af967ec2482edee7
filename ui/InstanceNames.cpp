#include "ui/InstanceNames.h"

namespace kv5 {
namespace {

// "USB オーディオ デバイス", compared byte for byte with the names the MIDI system reports: the
// multimedia API of Windows reports them in the Japanese ANSI code page (Shift-JIS), Linux's
// MIDI systems in UTF-8.
#ifdef _WIN32
constexpr char kLocalisedUsbAudioName[] =
    "USB \x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49 \x83\x66\x83\x6F\x83\x43\x83\x58";
#else
constexpr char kLocalisedUsbAudioName[] = "USB オーディオ デバイス";
#endif

std::string WithSlot(const std::string& name, int instanceIndex) {
  if (instanceIndex == 1) return name;
  return name + " (" + std::to_string(instanceIndex) + ")";
}

}  // namespace

std::string InstanceTitle(int instanceIndex) {
  return WithSlot(kProductTitle, instanceIndex);
}

std::vector<std::string> DeviceNameCandidates(int instanceIndex) {
  return {WithSlot(kLocalisedUsbAudioName, instanceIndex),
          WithSlot("USB Audio Device", instanceIndex), WithSlot("TELVOR Q9", instanceIndex)};
}

}  // namespace kv5
