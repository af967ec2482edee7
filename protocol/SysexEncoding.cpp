#include "protocol/SysexEncoding.h"

namespace kv5 {
static_assert(CrcTable[1] == 0x77073096u && CrcTable[128] == 0xEDB88320u &&
              CrcTable[255] == 0x2D02EF8Du);

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
  return (crc >> 8) ^ CrcTable[(crc ^ byte) & 0xFF];
}

uint32_t SysexCrc32(const uint8_t* data, uint32_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < count; ++i) crc = CrcStep(crc, data[i]);
  return crc;
}

int Pack7in8(uint8_t* destination, const uint8_t* source, int n) {
  int total = 0;
  for (int g = 0; 7 * g < n; ++g) {
    const int k = (7 * g + 7 <= n) ? 7 : n - 7 * g;
    uint8_t flag = 0;
    uint8_t mask = 0x40;
    for (int j = 0; j < k; ++j) {
      const uint8_t s = source[7 * g + j];
      if (s & 0x80) flag |= mask;
      destination[8 * g + 1 + j] = s & 0x7F;
      mask >>= 1;
    }
    destination[8 * g] = flag;
    total += k + 1;
  }
  return total;
}

int Unpack7in8(uint8_t* destination, const uint8_t* source, int m) {
  int total = 0;
  for (int g = 0; 8 * g < m; ++g) {
    const int r = m - 8 * g;
    const int k = (r >= 8) ? 7 : r - 1;
    const uint8_t flag = source[8 * g];
    uint8_t mask = 0x40;
    for (int j = 0; j < k; ++j) {
      uint8_t b = source[8 * g + 1 + j];
      if (flag & mask) b |= 0x80;
      destination[7 * g + j] = b;
      mask >>= 1;
    }
    total += k;
  }
  return total;
}

void EncodeSeptet32(uint32_t value, uint8_t* destination) {
  destination[0] = value & 0x7F;
  destination[1] = (value >> 7) & 0x7F;
  destination[2] = (value >> 14) & 0x7F;
  destination[3] = (value >> 21) & 0x7F;
  destination[4] = (value >> 28) & 0x0F;
}

uint32_t DecodeSeptet32(const uint8_t* source) {
  return (uint32_t{source[0]} & 0x7F) | ((uint32_t{source[1]} & 0x7F) << 7) |
         ((uint32_t{source[2]} & 0x7F) << 14) | ((uint32_t{source[3]} & 0x7F) << 21) |
         ((uint32_t{source[4]} & 0x0F) << 28);
}

void EncodeSeptet14(int count, uint8_t* destination) {
  destination[0] = count & 0x7F;
  destination[1] = (count >> 7) & 0x7F;
}

int DecodeSeptet14(const uint8_t* source) {
  return source[0] | (source[1] << 7);
}

}  // namespace kv5
