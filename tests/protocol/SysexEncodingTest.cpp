#include "protocol/SysexEncoding.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "Bytes.h"

namespace kv5 {
namespace {

using test::Ascii;
using test::Hex;

std::vector<uint8_t> Packed(const std::vector<uint8_t>& raw, int* result) {
  std::vector<uint8_t> out(PackedLength(static_cast<int>(raw.size())) + 8, 0xEE);
  *result = Pack7in8(out.data(), raw.data(), static_cast<int>(raw.size()));
  out.resize(*result);
  return out;
}

TEST(SysexCrc32, KnownValuesAndTable) {
  EXPECT_EQ(SysexCrc32(nullptr, 0), 0xFFFFFFFFu);
  const auto digits = Ascii("123456789");
  EXPECT_EQ(SysexCrc32(digits.data(), 9), 0x340BC6D9u);
  const auto abc = Ascii("abc");
  EXPECT_EQ(SysexCrc32(abc.data(), 3), 0xCADBBE3Du);
  EXPECT_EQ(CrcTable[1], 0x77073096u);
  EXPECT_EQ(CrcTable[128], 0xEDB88320u);
  EXPECT_EQ(CrcTable[255], 0x2D02EF8Du);
  // The register is not inverted: the complement of the IEEE checksum (0xCBF43926).
  EXPECT_EQ(~SysexCrc32(digits.data(), 9), 0xCBF43926u);
}

// Lengths from 0 past several 64-byte blocks with every tail, at every alignment: the folded
// blocks (where the processor has carry-less multiplication), eight at a time and the last bytes.
TEST(SysexCrc32, EveryPathEqualsOneByteAtATime) {
  std::mt19937 random(3);
  std::vector<uint8_t> bytes(300);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  for (uint32_t start = 0; start < 8; ++start) {
    for (uint32_t count = 0; count + start <= bytes.size(); ++count) {
      uint32_t crc = 0xFFFFFFFFu;
      for (uint32_t i = 0; i < count; ++i) crc = CrcStep(crc, bytes[start + i]);
      ASSERT_EQ(SysexCrc32(bytes.data() + start, count), crc) << start << "+" << count;
    }
  }
}

TEST(PackedLength, Values) {
  EXPECT_EQ(PackedLength(0), 0);
  EXPECT_EQ(PackedLength(1), 2);
  EXPECT_EQ(PackedLength(6), 7);
  EXPECT_EQ(PackedLength(7), 8);
  EXPECT_EQ(PackedLength(8), 10);
  EXPECT_EQ(PackedLength(4096), 4682);
  EXPECT_EQ(PackedLength(-3), 0);
}

TEST(Pack7in8, Examples) {
  int result = -1;
  EXPECT_TRUE(Packed({}, &result).empty());
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Pack7in8(nullptr, nullptr, -5), 0);

  EXPECT_EQ(Packed(Hex("61 62 63"), &result), Hex("00 61 62 63"));
  EXPECT_EQ(result, 4);
  EXPECT_EQ(Packed(Hex("80 01 FF"), &result), Hex("50 00 01 7F"));
  EXPECT_EQ(result, 4);
  EXPECT_EQ(Packed(Hex("80 81 82 83 84 85 86"), &result), Hex("7F 00 01 02 03 04 05 06"));
  EXPECT_EQ(result, 8);
  EXPECT_EQ(Packed(std::vector<uint8_t>(8, 0x81), &result), Hex("7F 01 01 01 01 01 01 01 40 01"));
  EXPECT_EQ(result, 10);
  EXPECT_EQ(Packed(std::vector<uint8_t>(4096, 0xA5), &result).size(), 4682u);
  EXPECT_EQ(result, 4682);
}

TEST(Unpack7in8, ExamplesAndBounds) {
  std::vector<uint8_t> out(16, 0xEE);
  EXPECT_EQ(Unpack7in8(out.data(), Hex("50 00 01 7F").data(), 4), 3);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), Hex("80 01 FF EE"));

  // A flag byte and six data bytes: exactly six bytes written, nothing past them; the block is
  // allocated to its exact size, so a read past it shows under the address sanitizer.
  std::vector<uint8_t> block = Hex("7F 01 02 03 04 05 06");
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(Unpack7in8(out.data(), block.data(), 7), 6);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 7), Hex("81 82 83 84 85 86 EE"));

  // Nine packed bytes: the ninth is a flag byte alone and yields nothing.
  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_EQ(Unpack7in8(out.data(), Hex("00 01 02 03 04 05 06 07 7F").data(), 9), 7);
  EXPECT_EQ(out[7], 0xEE);

  // Data bytes are taken as they stand and bit 7 of a flag byte is ignored.
  EXPECT_EQ(Unpack7in8(out.data(), Hex("80 81").data(), 2), 1);
  EXPECT_EQ(out[0], 0x81);
  EXPECT_EQ(Unpack7in8(out.data(), nullptr, 0), 0);
  EXPECT_EQ(Unpack7in8(out.data(), nullptr, -1), 0);
}

TEST(Pack7in8, RoundTripsEveryLengthAndNeverOverrunsOnUnpack) {
  std::mt19937 random(20261208);
  for (int n = 0; n <= 100; ++n) {
    std::vector<uint8_t> raw(n);
    for (auto& b : raw) b = static_cast<uint8_t>(random());  // half of them >= 0x80
    const int m = PackedLength(n);
    std::vector<uint8_t> packed(m + 1, 0xEE);
    ASSERT_EQ(Pack7in8(packed.data(), raw.data(), n), m);
    EXPECT_EQ(packed[m], 0xEE) << "packing wrote past " << m;
    for (int i = 0; i < m; ++i) ASSERT_LT(packed[i], 0x80) << "n=" << n << " i=" << i;

    // Guard bytes right behind m - ceil(m / 8) catch any write past the bound.
    const int bound = m - (m + 7) / 8;
    std::vector<uint8_t> unpacked(bound + 16, 0xEE);
    ASSERT_EQ(Unpack7in8(unpacked.data(), packed.data(), m), n);
    EXPECT_EQ(bound, n);
    for (int i = bound; i < bound + 16; ++i) ASSERT_EQ(unpacked[i], 0xEE) << "n=" << n;
    unpacked.resize(n);
    EXPECT_EQ(unpacked, raw) << "n=" << n;
  }
}

TEST(Unpack7in8, AnyPackedLengthStaysWithinItsBound) {
  std::mt19937 random(7);
  for (int m = 0; m <= 100; ++m) {
    std::vector<uint8_t> packed(m);
    for (auto& b : packed) b = static_cast<uint8_t>(random());
    const int bound = m - (m + 7) / 8;
    std::vector<uint8_t> out(bound + 8, 0xEE);
    EXPECT_EQ(Unpack7in8(out.data(), packed.data(), m), bound);
    EXPECT_EQ(UnpackedLength(m), bound);
    for (int i = bound; i < bound + 8; ++i) ASSERT_EQ(out[i], 0xEE) << "m=" << m;
  }
}

TEST(Septet32, EncodeDecode) {
  uint8_t out[5];
  EncodeSeptet32(0x00170FE0, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), Hex("60 1F 5C 00 00"));
  EncodeSeptet32(4, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), Hex("04 00 00 00 00"));
  EncodeSeptet32(0xFFFFFFFF, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), Hex("7F 7F 7F 7F 0F"));

  EXPECT_EQ(DecodeSeptet32(Hex("7F 7F 7F 7F 7F").data()), 0xFFFFFFFFu);
  EXPECT_EQ(DecodeSeptet32(Hex("FF 00 00 00 00").data()), 0x7Fu);

  std::mt19937 random(3);
  for (int i = 0; i < 10000; ++i) {
    const uint32_t value = random();
    EncodeSeptet32(value, out);
    for (uint8_t b : out) ASSERT_LT(b, 0x80);
    ASSERT_EQ(DecodeSeptet32(out), value);
  }
}

TEST(Septet14, EncodeDecode) {
  uint8_t out[2];
  EncodeSeptet14(4096, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 2), Hex("00 20"));
  EncodeSeptet14(16383, out);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 2), Hex("7F 7F"));
  EncodeSeptet14(16384 + 5, out);  // high bits are dropped
  EXPECT_EQ(std::vector<uint8_t>(out, out + 2), Hex("05 00"));
  for (int c = 0; c < 16384; ++c) {
    EncodeSeptet14(c, out);
    ASSERT_EQ(DecodeSeptet14(out), c);
  }
}

}  // namespace
}  // namespace kv5
