#include "midi/DeviceName.h"

#include <cstring>

namespace kv5 {

void CopyDeviceName(MidiResult query, const MidiDeviceCaps& caps, char* name) {
  constexpr size_t kLongestName = sizeof caps.szPname - 1;
  if (query != MMSYSERR_NOERROR) {
    name[0] = '\0';
    return;
  }
  // The record is not trusted to hold its terminating zero.
  const size_t length = strnlen(caps.szPname, kLongestName);
  std::memcpy(name, caps.szPname, length);
  name[length] = '\0';
}

}  // namespace kv5
