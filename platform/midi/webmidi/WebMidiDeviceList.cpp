#include "platform/midi/webmidi/WebMidiDeviceList.h"

#include <algorithm>
#include <cstring>

#include "platform/event/web/BrowserPromise.h"
#include "platform/midi/common/ListedNames.h"
#include "platform/midi/webmidi/WebMidiBrowser.h"

namespace kv5 {
namespace {

// Room for any name the browser gives; the list shows at most kMaxListedName bytes of it.
constexpr uint32_t kNameCapacity = 256;

}  // namespace

uint32_t WebMidiDeviceList::Refresh() {
  taken_ = true;
  const uint32_t count = kv5_webmidi_list(Direction());
  std::vector<std::string> names;
  names.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    char name[kNameCapacity] = {};
    kv5_webmidi_port_name(Direction(), i, name, kNameCapacity);
    names.emplace_back(name);
  }
  names_ = DistinctListedNames(names);
  return count;
}

MidiResult WebMidiDeviceList::Caps(uint32_t device, MidiDeviceCaps* caps) {
  if (caps == nullptr) return MMSYSERR_INVALPARAM;
  if (!taken_) Refresh();
  if (device >= names_.size()) return MMSYSERR_BADDEVICEID;
  const std::string& name = names_[device];
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname - 1));
  return MMSYSERR_NOERROR;
}

MidiResult WebMidiDeviceList::Open(const WebMidiConfig& config, uint32_t device,
                                   uintptr_t handle) const {
  if (device >= names_.size()) return MMSYSERR_BADDEVICEID;
  BrowserPromise opened;
  const MidiResult started =
      kv5_webmidi_open(Direction(), device, handle, opened.Ticket(), config.lockDevices ? 1 : 0);
  if (started != MMSYSERR_NOERROR) return started;
  int result = MMSYSERR_ERROR;
  if (!opened.Wait(config.openLimitMs, &result)) {
    kv5_webmidi_close(handle);  // the opening that is still under way is cancelled
    return MMSYSERR_ERROR;
  }
  return static_cast<MidiResult>(result);
}

}  // namespace kv5
