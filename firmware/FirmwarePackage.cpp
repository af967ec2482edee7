#include "firmware/FirmwarePackage.h"

#include <cstring>

#include "firmware/EmbeddedImages.h"

namespace kv5 {
namespace {

ImageLookup imageLookup = EmbeddedImage;

}  // namespace

FirmwareImage OpenImage(int resourceId) {
  return imageLookup(resourceId);
}

void SetImageLookup(ImageLookup lookup) {
  imageLookup = lookup != nullptr ? lookup : EmbeddedImage;
}

int ReadImageBytes(int resourceId, uint32_t offset, uint32_t count, uint8_t* destination) {
  const FirmwareImage image = OpenImage(resourceId);
  if (image.bytes == nullptr) return -1;
  if (offset > image.size || count > image.size - offset) return -1;
  std::memcpy(destination, image.bytes + offset, count);
  return 0;
}

int SanitizeStamp(VersionStamp& stamp) {
  for (int i = 0; i < 4; ++i) {
    // Compared as a signed byte, so 0x80..0xFF count as not printable.
    const int8_t value = static_cast<int8_t>(stamp[i]);
    if (value < 0x20 || value > 0x7E) {
      std::memcpy(stamp.data(), "*.**", 5);
      return 0;
    }
  }
  return 0;
}

bool IsTestPackage() {
  return EmbeddedPackageIsSynthetic();
}

const char* PackageDescription() {
  return IsTestPackage() ? "synthetic test package" : "firmware release";
}

}  // namespace kv5
