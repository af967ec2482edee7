// The Web MIDI backend's tunables, in one place.
#pragma once

#include <cstdint>

namespace kv5 {

struct WebMidiConfig {
  // How long an open waits for the browser to open the port (and to grant its device lock); a
  // port another program holds is refused at once where the system refuses it (Windows).
  uint32_t openLimitMs = 5000;
  // An open takes a lock named after the port (a Web Lock of the page's site), so that a second
  // tab of the page does not open a device this one has open.
  bool lockDevices = true;
};

}  // namespace kv5
