// A SysEx message of a given length for tests: F0, data bytes counting up (below 0x80), F7.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv5::test {

inline std::vector<uint8_t> SysexMessage(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i % 0x7F);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

}  // namespace kv5::test
