// How numbers, counts, data bytes and checksums travel in the 7-bit bytes of a SysEx message.
// Pure operations over the caller's buffers: no state, no allocation, no failure.
#pragma once

#include <array>
#include <cstdint>

namespace kv5 {

// Reflected CRC-32 (polynomial 0xEDB88320) without the final inversion: the complement of the
// IEEE 802.3 checksum. No bytes give 0xFFFFFFFF.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t entry = i;
    for (int bit = 0; bit < 8; ++bit) entry = (entry & 1) ? (entry >> 1) ^ 0xEDB88320u : entry >> 1;
    table[i] = entry;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();

uint32_t CrcStep(uint32_t crc, uint8_t byte);
uint32_t SysexCrc32(const uint8_t* data, uint32_t count);

// n raw bytes take n + ceil(n / 7) packed bytes: each group of up to seven is led by a flag byte
// holding their high bits (bit 6 for the first byte, down to bit 0 for the seventh).
constexpr int PackedLength(int n) {
  return n <= 0 ? 0 : n + (n + 6) / 7;
}
// Raw bytes that m packed bytes carry: m minus the number of groups.
constexpr int UnpackedLength(int m) {
  return m <= 0 ? 0 : m - (m + 7) / 8;
}

// Writes PackedLength(n) bytes and returns that count; n <= 0 writes nothing.
int Pack7in8(uint8_t* destination, const uint8_t* source, int n);
// Writes m - ceil(m / 8) bytes and returns that count; m <= 0 writes nothing. Data bytes are
// taken as they stand (bit 7 is not cleared first); bit 7 of a flag byte is ignored.
int Unpack7in8(uint8_t* destination, const uint8_t* source, int m);

// A 32-bit number as five 7-bit groups, least significant first.
void EncodeSeptet32(uint32_t value, uint8_t* destination);
uint32_t DecodeSeptet32(const uint8_t* source);

// A count below 16384 as two 7-bit groups, least significant first.
void EncodeSeptet14(int count, uint8_t* destination);
int DecodeSeptet14(const uint8_t* source);

}  // namespace kv5
