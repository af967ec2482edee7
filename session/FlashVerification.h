// What reading the unit's flash back against the package found, region by region of the plan.
#pragma once

#include <array>
#include <cstdint>

#include "firmware/FirmwarePackage.h"

namespace kv5 {

struct RegionVerdict {
  enum class Result { NotRead, Verified, Differs };
  Result result = Result::NotRead;
  uint32_t firstDifference = 0;  // device address of the first byte that differs
};

// One verdict for each of kFlashRegions, in its order: the bytes its image fills.
struct FlashVerification {
  std::array<RegionVerdict, kFlashRegions.size()> regions{};

  // Every region was read and holds its image.
  bool AllVerified() const;
};

}  // namespace kv5
