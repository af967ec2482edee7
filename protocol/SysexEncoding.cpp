#include "protocol/SysexEncoding.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KV5_CRC_FOLDING 1
#endif

namespace kv5 {
static_assert(CrcTable[1] == 0x77073096u && CrcTable[128] == 0xEDB88320u &&
              CrcTable[255] == 0x2D02EF8Du);

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Slicing by eight: SliceTables[k][b] is the checksum step of byte b followed by k zero bytes,
// so eight bytes cost eight independent look-ups instead of a chain of eight.
using SliceTable = std::array<std::array<uint32_t, 256>, 8>;
constexpr SliceTable MakeSliceTables() {
  SliceTable tables{};
  tables[0] = CrcTable;
  for (size_t k = 1; k < 8; ++k) {
    for (size_t i = 0; i < 256; ++i) {
      const uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous >> 8) ^ CrcTable[previous & 0xFF];
    }
  }
  return tables;
}
constexpr SliceTable SliceTables = MakeSliceTables();

uint32_t Load32(const uint8_t* source) {
  uint32_t value;
  std::memcpy(&value, source, sizeof value);
  return value;
}

// The bytes of one group from a little-endian load: the high bits gathered into the flag (bit 6
// for the first byte, down to bit 0 for the seventh) in front of the low seven bits of each.
uint64_t PackGroup(uint64_t seven) {
  const uint64_t highBits = (seven >> 7) & 0x0001010101010101ull;
  const uint64_t flag = ((highBits * 0x4020100804020100ull) >> 56) & 0x7F;
  return ((seven & 0x007F7F7F7F7F7F7Full) << 8) | flag;
}

#if defined(KV5_CRC_FOLDING)
#define KV5_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

KV5_FOLDING_TARGET __m128i LoadBlock(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// A block folded forward by the constant pair k: its low half times k's low, its high half times
// k's high, both added to the block `next`.
KV5_FOLDING_TARGET __m128i Fold(__m128i block, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(block, k, 0x00);
  const __m128i high = _mm_clmulepi64_si128(block, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The checksum of whole 16-byte blocks by carry-less multiplication, some ten times as fast as
// the tables: the running remainder is kept as four 128-bit blocks, each folded forward over the
// next 64 bytes, then folded into one block, to 64 bits, and reduced to 32 (Barrett). The
// constants are the powers of x, modulo the bit-reflected polynomial P, that fold by 64 and by 16
// bytes and from 128 to 64 bits, then P and the Barrett quotient x^64 / P. count is at least 64
// and a multiple of 16; crc is the running value as SysexCrc32 keeps it.
KV5_FOLDING_TARGET uint32_t FoldedCrc(const uint8_t* data, uint32_t count, uint32_t crc) {
  __m128i x1 = _mm_xor_si128(LoadBlock(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = LoadBlock(data + 16);
  __m128i x3 = LoadBlock(data + 32);
  __m128i x4 = LoadBlock(data + 48);
  data += 64;
  count -= 64;
  const __m128i by64 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  for (; count >= 64; count -= 64, data += 64) {
    x1 = Fold(x1, by64, LoadBlock(data));
    x2 = Fold(x2, by64, LoadBlock(data + 16));
    x3 = Fold(x3, by64, LoadBlock(data + 32));
    x4 = Fold(x4, by64, LoadBlock(data + 48));
  }
  const __m128i by16 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  x1 = Fold(x1, by16, x2);
  x1 = Fold(x1, by16, x3);
  x1 = Fold(x1, by16, x4);
  for (; count >= 16; count -= 16, data += 16) x1 = Fold(x1, by16, LoadBlock(data));
  // 128 bits to 64.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x2 = _mm_clmulepi64_si128(x1, by16, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, low32);
  x1 = _mm_clmulepi64_si128(x1, _mm_set_epi64x(0, 0x0163cd6124), 0x00);
  x1 = _mm_xor_si128(x1, x2);
  // Barrett reduction to 32 bits.
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  x2 = _mm_and_si128(x1, low32);
  x2 = _mm_clmulepi64_si128(x2, poly, 0x10);
  x2 = _mm_and_si128(x2, low32);
  x2 = _mm_clmulepi64_si128(x2, poly, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool CanFold() {
  static const bool supported =
      __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return supported;
}
#endif

}  // namespace

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
  return (crc >> 8) ^ CrcTable[(crc ^ byte) & 0xFF];
}

uint32_t SysexCrc32(const uint8_t* data, uint32_t count) {
  uint32_t crc = 0xFFFFFFFFu;
#if defined(KV5_CRC_FOLDING)
  if (count >= 64 && CanFold()) {
    const uint32_t blocks = count & ~15u;
    crc = FoldedCrc(data, blocks, crc);
    data += blocks;
    count -= blocks;
  }
#endif
  if constexpr (kLittleEndian) {
    const auto& t = SliceTables;
    for (; count >= 8; count -= 8, data += 8) {
      const uint32_t low = Load32(data) ^ crc;
      const uint32_t high = Load32(data + 4);
      crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
            t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
            t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
  }
  for (uint32_t i = 0; i < count; ++i) crc = CrcStep(crc, data[i]);
  return crc;
}

int Pack7in8(uint8_t* destination, const uint8_t* source, int n) {
  int total = 0;
  int g = 0;
  if constexpr (kLittleEndian) {
    // Whole groups, eight bytes written per seven read. A load takes eight bytes while an eighth
    // is there to read, and the last whole group is loaded with seven.
    for (; 7 * g + 8 <= n; ++g) {
      uint64_t seven;
      std::memcpy(&seven, source + 7 * g, 8);
      const uint64_t packed = PackGroup(seven);
      std::memcpy(destination + 8 * g, &packed, 8);
    }
    if (7 * g + 7 <= n) {
      uint64_t seven = 0;
      std::memcpy(&seven, source + 7 * g, 7);
      const uint64_t packed = PackGroup(seven);
      std::memcpy(destination + 8 * g, &packed, 8);
      ++g;
    }
    total = 8 * g;
  }
  for (; 7 * g < n; ++g) {
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
