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
  const std::string path =
      procRoot + "/card" + std::to_string(card) + "/midi" + std::to_string(device);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // A few subdevices fit: some 120 bytes each.
  char buffer[4096];
  size_t length = 0;
  for (ssize_t got = 0; length < sizeof buffer; length += static_cast<size_t>(got)) {
    got = ::read(fd, buffer + length, sizeof buffer - length);
    if (got <= 0) break;
  }
  ::close(fd);
  return ParseRawOutputState(std::string(buffer, length), subdevice);
}

}  // namespace kv5
