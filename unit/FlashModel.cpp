#include "unit/FlashModel.h"

#include <algorithm>
#include <cstring>

#include "unit/UnitCodes.h"

namespace kv5 {

FlashModel::FlashModel() : bytes_(kSize, kErased) {}

bool FlashModel::InRange(uint32_t address, uint32_t count) {
  return address < kSize && count <= kSize - address;
}

int FlashModel::Erase(uint32_t address, uint32_t size) {
  if (size == 0 || !InRange(address, size)) return unitcode::kOutOfRange;
  if (address % kSectorSize != 0 || size % kSectorSize != 0) return unitcode::kMisaligned;
  std::fill_n(bytes_.begin() + address, size, kErased);
  return unitcode::kOk;
}

int FlashModel::Write(uint32_t address, const uint8_t* data, uint32_t count, bool acceptIdentical) {
  if (count == 0 || !InRange(address, count)) return unitcode::kOutOfRange;
  const uint8_t* target = bytes_.data() + address;
  const bool erased = std::all_of(target, target + count, [](uint8_t b) { return b == kErased; });
  if (!erased) {
    // A unit that compares before programming lets an identical resend pass untouched.
    if (acceptIdentical && std::memcmp(target, data, count) == 0) return unitcode::kOk;
    return unitcode::kNotErased;
  }
  std::memcpy(bytes_.data() + address, data, count);
  return unitcode::kOk;
}

bool FlashModel::Load(uint32_t address, const uint8_t* data, uint32_t count) {
  if (!InRange(address, count)) return false;
  if (count != 0) std::memcpy(bytes_.data() + address, data, count);
  return true;
}

void FlashModel::EraseAll() {
  std::fill(bytes_.begin(), bytes_.end(), kErased);
}

}  // namespace kv5
