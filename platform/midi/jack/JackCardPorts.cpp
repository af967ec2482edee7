#include "platform/midi/jack/JackCardPorts.h"

#include <charconv>

namespace kv5 {
namespace {

// A number counted from 1 at text[at...], up to the character stop; its end in *end.
bool CountFromOne(const std::string& text, size_t at, char stop, int* value, size_t* end) {
  const size_t until = text.find(stop, at);
  if (until == std::string::npos || until == at) return false;
  int number = 0;
  const auto [last, error] = std::from_chars(text.data() + at, text.data() + until, number);
  if (error != std::errc() || last != text.data() + until || number < 1) return false;
  *value = number - 1;
  *end = until;
  return true;
}

}  // namespace

std::optional<CardPortAddress> ParseRawBridgeAlias(const std::string& alias) {
  const std::string prefix = "system:";
  if (alias.rfind(prefix, 0) != 0) return std::nullopt;
  CardPortAddress address;
  size_t at = 0;
  if (!CountFromOne(alias, prefix.size(), '-', &address.card, &at)) return std::nullopt;
  if (!CountFromOne(alias, at + 1, ' ', &address.device, &at)) return std::nullopt;
  // The last two words: the subdevice and the direction; the name between may hold blanks.
  const size_t direction = alias.rfind(' ');
  if (direction == std::string::npos || direction <= at) return std::nullopt;
  const std::string way = alias.substr(direction + 1);
  if (way != "in" && way != "out") return std::nullopt;
  const size_t subdevice = alias.rfind(' ', direction - 1);
  if (subdevice == std::string::npos || subdevice < at) return std::nullopt;
  size_t end = 0;
  if (!CountFromOne(alias.substr(0, direction) + " ", subdevice + 1, ' ', &address.subdevice, &end))
    return std::nullopt;
  return address;
}

std::optional<A2jPortName> ParseA2jPortName(const std::string& name) {
  const std::string prefix = "a2j:";
  if (name.rfind(prefix, 0) != 0) return std::nullopt;
  // The client's own name may hold brackets; the ID is the last "[N]" before the direction.
  for (const char* direction : {"] (capture): ", "] (playback): "}) {
    const size_t close = name.rfind(direction);
    if (close == std::string::npos) continue;
    const size_t open = name.rfind('[', close);
    if (open == std::string::npos) return std::nullopt;
    A2jPortName parsed;
    const auto [end, error] =
        std::from_chars(name.data() + open + 1, name.data() + close, parsed.client);
    if (error != std::errc() || end != name.data() + close) return std::nullopt;
    parsed.port = name.substr(close + std::string(direction).size());
    return parsed;
  }
  return std::nullopt;
}

std::optional<CardPortAddress> CardPortOfJackPort(const std::string& name,
                                                  const std::vector<std::string>& aliases) {
  for (const std::string& alias : aliases) {
    if (auto address = ParseRawBridgeAlias(alias)) return address;
  }
  if (auto a2j = ParseA2jPortName(name)) return ReadBridgedSeqPort(a2j->client, a2j->port);
  return std::nullopt;
}

}  // namespace kv5
