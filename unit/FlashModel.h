// The unit's 2 MiB NOR flash: erased state 0xFF, erased by 4 KiB sectors, programmed only where
// erased. Operations answer with the unit's result codes.
#pragma once

#include <cstdint>
#include <vector>

namespace kv5 {

class FlashModel {
 public:
  static constexpr uint32_t kSize = 0x200000;
  static constexpr uint32_t kSectorSize = 0x1000;
  static constexpr uint8_t kErased = 0xFF;

  FlashModel();  // erased throughout

  // Sets [address, address + size) to 0xFF. 0, or kOutOfRange (outside the flash or size 0),
  // kMisaligned (not whole sectors).
  int Erase(uint32_t address, uint32_t size);
  // Programs count bytes at address. 0, or kOutOfRange, or kNotErased when a target byte is not
  // 0xFF (unless acceptIdentical and the flash already holds exactly these bytes there).
  // Nothing is written when the answer is not 0.
  int Write(uint32_t address, const uint8_t* data, uint32_t count, bool acceptIdentical = false);
  // True when address lies inside the flash and [address, address + count) does too.
  static bool InRange(uint32_t address, uint32_t count);

  // Loads bytes as they stand (initial contents); no erase rule. False when out of range.
  bool Load(uint32_t address, const uint8_t* data, uint32_t count);
  void EraseAll();

  const uint8_t* Data() const { return bytes_.data(); }
  uint8_t At(uint32_t address) const { return bytes_[address]; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace kv5
