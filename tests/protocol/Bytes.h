// Helpers for tests that compare messages byte for byte.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace kv5::test {

// "F0 7E 00" -> {0xF0, 0x7E, 0x00}
inline std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::istringstream in(text);
  std::string token;
  while (in >> token) bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
  return bytes;
}

inline std::vector<uint8_t> Ascii(const std::string& text) {
  return {text.begin(), text.end()};
}

}  // namespace kv5::test
