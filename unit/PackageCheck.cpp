#include "unit/PackageCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "firmware/FirmwarePackage.h"
#include "unit/FlashModel.h"

namespace kv5 {
namespace {

struct OlderStamp {
  const StampLocation& location;
  std::array<uint8_t, 4> bytes;
};

// What an older firmware leaves in the stamp places: the images otherwise as in this package.
const OlderStamp kOlderStamps[] = {
    {kSystemStamp, {'1', '.', '1', '0'}},
    {kPresetStamp, {'1', '.', '0', '0'}},
    {kBootStamp, {'1', '.', '0', '0'}},
    {kSubmcuStamp, {0xFF, 0xFF, 0xFF, 0xFF}},
};

uint32_t WriteSize(const PlanStep& step, uint32_t imageSize) {
  return step.size != 0 ? static_cast<uint32_t>(step.size) : imageSize;
}

const char* ComponentAt(uint32_t address) {
  for (const FlashRegion& region : kFlashRegions) {
    if (address >= region.address && address - region.address < region.size) {
      return region.component;
    }
  }
  return "outside the plan";
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// The package's images by id, from the build's files or from the program itself.
class ImageSet {
 public:
  bool Load(PackageSource source, std::string* problem, std::string* note) {
    if (source == PackageSource::BuildFiles) {
#ifdef KV5_FIRMWARE_FILES_DIR
      const std::filesystem::path folder(KV5_FIRMWARE_FILES_DIR);
      std::error_code ignored;
      if (std::filesystem::is_directory(folder, ignored)) return LoadFiles(folder, problem);
      *note = " (build files not found, embedded images used)";
#endif
    }
    for (int id : kPackageImageIds) {
      const FirmwareImage image = OpenImage(id);
      if (image.bytes == nullptr) {
        *problem = "the program holds no image " + std::to_string(id);
        return false;
      }
      images_[id].assign(image.bytes, image.bytes + image.size);
    }
    return true;
  }

  const std::vector<uint8_t>& Get(int id) const {
    return images_.at(id);
  }

 private:
  bool LoadFiles(const std::filesystem::path& folder, std::string* problem) {
    for (int id : kPackageImageIds) {
      const auto path = folder / (std::to_string(id) + ".bin");
      std::ifstream file(path, std::ios::binary | std::ios::ate);
      const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
      auto& image = images_[id];
      image.resize(size > 0 ? static_cast<size_t>(size) : 0);
      if (size < 0 || !file.seekg(0) ||
          !file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(size))) {
        *problem = "cannot read " + path.string();
        return false;
      }
    }
    return true;
  }

  std::map<int, std::vector<uint8_t>> images_;
};

}  // namespace

void LoadInitialFlash(FlashModel& flash, InitialFlash state) {
  flash.EraseAll();
  if (state == InitialFlash::Factory) return;
  for (const PlanStep& step : UpdatePlan) {
    if (step.kind != kWriteStep) continue;
    const FirmwareImage image = OpenImage(step.resourceId);
    if (image.bytes == nullptr) continue;
    flash.Load(static_cast<uint32_t>(step.address), image.bytes, WriteSize(step, image.size));
  }
  if (state == InitialFlash::OlderFirmware) {
    for (const OlderStamp& stamp : kOlderStamps) {
      flash.Load(stamp.location.deviceAddress, stamp.bytes.data(), 4);
    }
  }
}

PackageVerification VerifyPackage(const FlashModel& flash, PackageSource source) {
  PackageVerification result;
  ImageSet images;
  std::string note;
  if (!images.Load(source, &result.message, &note)) {
    result.message = "cannot verify: " + result.message;
    return result;
  }
  // What the plan leaves at each address it touches: erased regions first, then the writes.
  std::vector<uint8_t> expected(FlashModel::kSize, FlashModel::kErased);
  std::vector<std::pair<uint32_t, uint32_t>> touched;  // [first, end) of every step
  for (const PlanStep& step : UpdatePlan) {
    const auto address = static_cast<uint32_t>(step.address);
    if (step.kind == kEraseStep) {
      touched.emplace_back(address, address + static_cast<uint32_t>(step.size));
      continue;
    }
    const auto& image = images.Get(step.resourceId);
    const uint32_t size = WriteSize(step, static_cast<uint32_t>(image.size()));
    if (size > image.size() || !FlashModel::InRange(address, size)) {
      result.message = "cannot verify: image " + std::to_string(step.resourceId) +
                       " is shorter than the plan writes";
      return result;
    }
    std::copy(image.begin(), image.begin() + size, expected.begin() + address);
    touched.emplace_back(address, address + size);
  }
  std::sort(touched.begin(), touched.end());
  for (const auto& [first, end] : touched) {
    if (std::memcmp(flash.Data() + first, expected.data() + first, end - first) == 0) continue;
    uint32_t address = first;
    while (flash.At(address) == expected[address]) ++address;
    result.firstMismatch = address;
    result.expected = expected[address];
    result.actual = flash.At(address);
    result.component = ComponentAt(address);
    result.message = "mismatch at " + Hex(address, 6) + " (" + result.component + "): expected " +
                     Hex(result.expected, 2) + ", flash holds " + Hex(result.actual, 2) + note;
    return result;
  }
  result.ok = true;
  result.message = "flash matches the package" + note;
  return result;
}

}  // namespace kv5
