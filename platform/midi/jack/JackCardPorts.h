// The sound card port behind a JACK port that a bridge made of it, so that the device lock is the
// card port's own whichever MIDI system reaches it, and output can be paced to what the card
// takes. Free of JACK headers, so the rules can be tested on their own.
// - jackd's own raw MIDI bridge (-X alsarawmidi) gives its ports an alias
//   "system:CARD-DEVICE NAME SUBDEVICE in|out", the numbers counted from 1;
// - a2jmidid names its ports "a2j:CLIENT [ID] (capture|playback): PORT", ID the sequencer client
//   that stands for the card (a2jmidid -u leaves the ID out: no card is found then).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/midi/common/CardMidiState.h"

namespace kv5 {

// The card port of an alias of jackd's raw MIDI bridge, or nullopt.
std::optional<CardPortAddress> ParseRawBridgeAlias(const std::string& alias);

// The sequencer client number and port name in a name given by a2jmidid, or nullopt.
struct A2jPortName {
  int client = -1;
  std::string port;
};
std::optional<A2jPortName> ParseA2jPortName(const std::string& name);

// The card port behind the JACK port of this full name and these aliases, as the live system
// tells it; nullopt for a port of a program.
std::optional<CardPortAddress> CardPortOfJackPort(const std::string& name,
                                                  const std::vector<std::string>& aliases);

}  // namespace kv5
