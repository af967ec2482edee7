// The firmware package seen from the unit's flash: fill the flash as a factory-fresh unit, an
// older firmware or a completed update leaves it, and verify that it holds the package.
#pragma once

#include <cstdint>
#include <string>

#include "unit/UnitConfig.h"

namespace kv5 {

class FlashModel;

// Where the verification takes the package's images from.
enum class PackageSource : uint8_t {
  BuildFiles,  // <build>/firmware/<id>.bin as the build left them; the embedded images when the
               // folder is gone (the report says so)
  Embedded,    // the images linked into the program
};

struct PackageVerification {
  bool ok = false;
  uint32_t firstMismatch = 0;  // lowest address that differs (when !ok and the images loaded)
  uint8_t expected = 0;        // what the package puts there (0xFF in the erased SYSTEM tail)
  uint8_t actual = 0;          // what the flash holds
  std::string component;       // region of firstMismatch
  std::string message;         // "flash matches the package" or "mismatch at 0x04AFFC (BOOT): ..."
};

// Sets the whole flash (erasing first).
void LoadInitialFlash(FlashModel& flash, InitialFlash state);

// Checks every address the update plan writes against the image bytes, and that the parts of
// erased regions that no write covers (the SYSTEM region behind its image) are erased.
PackageVerification VerifyPackage(const FlashModel& flash,
                                  PackageSource source = PackageSource::BuildFiles);

}  // namespace kv5
