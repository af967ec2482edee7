// The kernel's account of a sound card's raw MIDI output, as /proc/asound/cardC/midiD shows it
// while the output is open (by a program, or by the sequencer's bridge to the card): the size of
// its buffer, how much of the buffer is free, and how many bytes the driver has taken from it.
// Read without the sound library, so every MIDI backend can pace what it hands such a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kv5 {

struct RawOutputState {
  size_t bufferBytes = 0;
  size_t freeBytes = 0;
  uint64_t sentBytes = 0;  // taken by the driver since the card appeared
};

// The state of one output subdevice in the text of such a file; nullopt when that subdevice is
// not listed as open.
std::optional<RawOutputState> ParseRawOutputState(const std::string& text, int subdevice);

// Reads the file of card, device under procRoot ("/proc/asound" on a live system).
std::optional<RawOutputState> ReadRawOutputState(int card, int device, int subdevice,
                                                 const std::string& procRoot = "/proc/asound");

}  // namespace kv5
