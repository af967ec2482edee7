// The kernel's account of sound cards and their MIDI ports under /proc/asound, read without the
// sound library so that every MIDI backend can use it: a raw MIDI output's buffer while it is
// open (by a program, or by the sequencer's bridge to the card), to pace what is handed to it; a
// card's long name, which says where it is plugged in; and which card port a sequencer client's
// port is.
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

// The long name of card in the text of the card list ("cards"), or of the live one.
std::optional<std::string> ParseCardLongName(const std::string& cards, int card);
std::optional<std::string> ReadCardLongName(int card, const std::string& procRoot = "/proc/asound");

// A raw MIDI subdevice of a card.
struct CardPortAddress {
  int card = -1;
  int device = 0;
  int subdevice = 0;
  bool operator==(const CardPortAddress&) const = default;
};

// The card port behind port portName of the sequencer client numbered client, when that client is
// a card's bridge: the kernel numbers the bridge of card N 16 + 4 N and its ports device * 32 +
// subdevice. clients is the text of the sequencer's client list ("seq/clients").
std::optional<CardPortAddress> ParseBridgedSeqPort(const std::string& clients, int client,
                                                   const std::string& portName);
std::optional<CardPortAddress> ReadBridgedSeqPort(int client, const std::string& portName,
                                                  const std::string& procRoot = "/proc/asound");

}  // namespace kv5
