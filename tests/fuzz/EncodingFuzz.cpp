// The 7-in-8 packing over buffers of exactly the sizes the caller is told to provide, so a read or
// write one byte past either end shows under the address sanitizer.
#include <algorithm>
#include <cstring>
#include <memory>

#include "FuzzTargets.h"
#include "protocol/SysexEncoding.h"

namespace kv5::fuzz {
namespace {

// A heap block of exactly `size` bytes (none for 0): the sanitizer guards both ends.
std::unique_ptr<uint8_t[]> Exact(size_t size) {
  return std::make_unique<uint8_t[]>(size);
}

}  // namespace

int FuzzUnpack7in8(const uint8_t* data, size_t size) {
  const int m = static_cast<int>(size);

  // The input as a packed block: m - ceil(m / 8) raw bytes, however its flag bytes look.
  const int n = UnpackedLength(m);
  auto raw = Exact(static_cast<size_t>(n));
  Require(Unpack7in8(raw.get(), data, m) == n, "Unpack7in8 returned another count");

  // Packing that result and unpacking again gives the same bytes: the packed form is canonical.
  auto repacked = Exact(static_cast<size_t>(PackedLength(n)));
  Require(Pack7in8(repacked.get(), raw.get(), n) == PackedLength(n),
          "Pack7in8 returned another length");
  auto again = Exact(static_cast<size_t>(n));
  Require(Unpack7in8(again.get(), repacked.get(), PackedLength(n)) == n &&
              std::equal(raw.get(), raw.get() + n, again.get()),
          "unpack, pack, unpack changed the bytes");

  // The input as raw bytes: packed to 7-bit bytes only, and back unchanged.
  auto packed = Exact(static_cast<size_t>(PackedLength(m)));
  Require(Pack7in8(packed.get(), data, m) == PackedLength(m), "Pack7in8 returned another length");
  Require(
      std::all_of(packed.get(), packed.get() + PackedLength(m), [](uint8_t b) { return b < 0x80; }),
      "a packed byte has bit 7 set");
  auto unpacked = Exact(size);
  Require(Unpack7in8(unpacked.get(), packed.get(), PackedLength(m)) == m &&
              (size == 0 || std::memcmp(unpacked.get(), data, size) == 0),
          "pack then unpack changed the bytes");

  // The number fields round-trip through their septets.
  if (size >= 4) {
    uint32_t value = 0;
    std::memcpy(&value, data, 4);
    uint8_t septets[5];
    EncodeSeptet32(value, septets);
    Require(DecodeSeptet32(septets) == value &&
                std::all_of(septets, septets + 5, [](uint8_t b) { return b < 0x80; }),
            "Septet32 does not round-trip");
    const int count = static_cast<int>(value & 0x3FFF);
    EncodeSeptet14(count, septets);
    Require(DecodeSeptet14(septets) == count, "Septet14 does not round-trip");
  }
  return 0;
}

}  // namespace kv5::fuzz
