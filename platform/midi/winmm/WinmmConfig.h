// The winmm backend's tunables, in one place.
#pragma once

#include <cstdint>

namespace kv5 {

struct WinmmConfig {
  // Buffers of our own that the input keeps queued with the driver for each open device, and
  // their size (see RelayedMidiIn). A reply reaches the port only once its buffer is back with
  // the driver, so replies cannot use them up; the unit's own requests can come unasked, a few
  // at once, and there is room for a burst while the hand-back thread runs late. 128 KiB a device.
  int inputBuffers = 16;
  uint32_t inputBufferSize = 8192;
  // The largest piece of a long message that the output hands the device at once: recent Windows
  // MIDI stacks drop or refuse SysEx buffers of 2049 bytes and more. Under Wine, whose driver
  // makes every buffer a message of its own, a message goes whole.
  uint32_t maxSysexPiece = 2048;
  // A piece the device has not finished after this long never will be: a 2048-byte piece takes
  // about 0.7 s on a 31250-baud cable.
  uint32_t pieceLimitMs = 10000;
};

}  // namespace kv5
