#include "platform/midi/common/CardMidiState.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <string_view>

namespace kv5 {
namespace {

// The number after the colon of a line "  Name  : 123", when the line carries that name.
std::optional<uint64_t> Field(std::string_view line, std::string_view name) {
  const size_t at = line.find_first_not_of(' ');
  if (at == std::string_view::npos || line.substr(at, name.size()) != name) return std::nullopt;
  const size_t colon = line.find(':', at);
  if (colon == std::string_view::npos) return std::nullopt;
  const size_t digits = line.find_first_not_of(' ', colon + 1);
  if (digits == std::string_view::npos) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(line.data() + digits, line.data() + line.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

// Reads a file of /proc whole (these are a few kilobytes at most).
bool ReadSmallFile(const std::string& path, std::string* text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[16384];
  size_t length = 0;
  for (ssize_t got = 0; length < sizeof buffer; length += static_cast<size_t>(got)) {
    got = ::read(fd, buffer + length, sizeof buffer - length);
    if (got <= 0) break;
  }
  ::close(fd);
  text->assign(buffer, length);
  return true;
}

}  // namespace

std::optional<RawOutputState> ParseRawOutputState(const std::string& text, int subdevice) {
  const std::string heading = "Output " + std::to_string(subdevice);
  std::string_view rest(text);
  bool inSection = false;
  bool haveBuffer = false;
  bool haveFree = false;
  RawOutputState state;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.rfind("Output ", 0) == 0 || line.rfind("Input ", 0) == 0) {
      if (inSection) break;
      inSection = line == heading;
      continue;
    }
    if (!inSection) continue;
    if (auto value = Field(line, "Tx bytes")) state.sentBytes = *value;
    if (auto value = Field(line, "Buffer size")) {
      state.bufferBytes = static_cast<size_t>(*value);
      haveBuffer = true;
    }
    if (auto value = Field(line, "Avail")) {
      state.freeBytes = static_cast<size_t>(*value);
      haveFree = true;
    }
  }
  if (!haveBuffer || !haveFree) return std::nullopt;  // closed: only its byte count is shown
  return state;
}

std::optional<RawOutputState> ReadRawOutputState(int card, int device, int subdevice,
                                                 const std::string& procRoot) {
  std::string text;
  std::string path = procRoot;
  path.append("/card").append(std::to_string(card)).append("/midi").append(std::to_string(device));
  if (!ReadSmallFile(path, &text)) return std::nullopt;
  return ParseRawOutputState(text, subdevice);
}

std::optional<std::string> ParseCardLongName(const std::string& cards, int card) {
  // " 1 [Q9             ]: USB-Audio - TELVOR Q9\n                      TELVOR ... high speed\n"
  std::string_view rest(cards);
  bool next = false;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (next) {
      const size_t start = line.find_first_not_of(' ');
      if (start == std::string_view::npos) return std::nullopt;
      return std::string(line.substr(start));
    }
    const size_t start = line.find_first_not_of(' ');
    int number = -1;
    if (start == std::string_view::npos) continue;
    const auto [after, error] =
        std::from_chars(line.data() + start, line.data() + line.size(), number);
    next = error == std::errc() && number == card && after < line.data() + line.size() &&
           after[0] == ' ' && line.find('[') != std::string_view::npos;
  }
  return std::nullopt;
}

std::optional<std::string> ReadCardLongName(int card, const std::string& procRoot) {
  std::string text;
  if (!ReadSmallFile(procRoot + "/cards", &text)) return std::nullopt;
  return ParseCardLongName(text, card);
}

std::optional<CardPortAddress> ParseBridgedSeqPort(const std::string& clients, int client,
                                                   const std::string& portName) {
  constexpr int kFirstCardClient = 16;
  constexpr int kClientsPerCard = 4;
  constexpr int kFirstProgramClient = 128;
  constexpr int kPortsPerDevice = 32;
  if (client < kFirstCardClient || client >= kFirstProgramClient ||
      (client - kFirstCardClient) % kClientsPerCard != 0)
    return std::nullopt;
  // "Client  20 : "TELVOR Q9" [Kernel]" then "  Port   0 : "TELVOR Q9 MIDI 1" (RWeX)" lines.
  const std::string heading =
      "Client " + std::string(client < 100 ? " " : "") + std::to_string(client) + " : ";
  const std::string quoted = "\"" + portName + "\"";
  std::string_view rest(clients);
  bool inClient = false;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.rfind("Client ", 0) == 0) {
      inClient = line.rfind(heading, 0) == 0;
      continue;
    }
    if (!inClient) continue;
    const size_t port = line.find("Port ");
    const size_t colon = line.find(" : ");
    if (port == std::string_view::npos || colon == std::string_view::npos ||
        line.substr(colon + 3, quoted.size()) != quoted)
      continue;
    const size_t digits = line.find_first_not_of(' ', port + 5);
    int number = -1;
    if (digits == std::string_view::npos ||
        std::from_chars(line.data() + digits, line.data() + colon, number).ec != std::errc())
      continue;
    return CardPortAddress{(client - kFirstCardClient) / kClientsPerCard, number / kPortsPerDevice,
                           number % kPortsPerDevice};
  }
  return std::nullopt;
}

std::optional<CardPortAddress> ReadBridgedSeqPort(int client, const std::string& portName,
                                                  const std::string& procRoot) {
  std::string text;
  if (!ReadSmallFile(procRoot + "/seq/clients", &text)) return std::nullopt;
  return ParseBridgedSeqPort(text, client, portName);
}

}  // namespace kv5
