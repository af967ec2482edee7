// Writes the synthetic test package: the five images with the package's exact sizes and stamps,
// everything else deterministic pseudo-random bytes, so no image can be taken for another or for
// erased flash. Usage: make-test-package <output folder>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/FirmwarePackage.h"

namespace {

// splitmix64: small, fast, and the same bytes on every machine.
uint64_t NextRandom(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::vector<uint8_t> MakeImage(const kv5::FlashRegion& region) {
  std::vector<uint8_t> image(region.imageSize);
  if (region.resourceId == kv5::kSystemInfoImageId) {
    // The info block is erased flash but for its stamp and two short texts.
    std::fill(image.begin(), image.end(), 0xFF);
    std::memcpy(&image[4069], "SYNTHETIC", 9);
    std::memcpy(&image[4080], "NOT FOR UNITS", 13);
  } else {
    uint64_t state = 0x4B5620000000ull + static_cast<uint64_t>(region.resourceId);
    for (size_t i = 0; i < image.size(); i += 8) {
      const uint64_t r = NextRandom(state);
      for (size_t j = 0; j < 8 && i + j < image.size(); ++j) image[i + j] = uint8_t(r >> (8 * j));
    }
    // A plain label at the start, for anyone who looks at the bytes.
    const std::string label =
        "TELVOR Q9 SYNTHETIC TEST IMAGE " + std::to_string(region.resourceId) + " - NOT FIRMWARE";
    std::memcpy(image.data(), label.data(), label.size());
  }
  for (const kv5::StampLocation& stamp : kv5::StampLocations) {
    if (stamp.resourceId == region.resourceId)
      std::memcpy(&image[stamp.imageOffset], stamp.packageStamp, 4);
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  for (const kv5::FlashRegion& region : kv5::kFlashRegions) {
    const std::vector<uint8_t> image = MakeImage(region);
    const std::string path =
        std::string(argv[1]) + "/" + std::to_string(region.resourceId) + ".bin";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
        std::fclose(file) != 0) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
