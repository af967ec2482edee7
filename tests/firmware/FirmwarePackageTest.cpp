#include "firmware/FirmwarePackage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kv5 {
namespace {

std::string Stamp(int id, uint32_t offset) {
  char bytes[4] = {};
  EXPECT_EQ(ReadImageBytes(id, offset, 4, reinterpret_cast<uint8_t*>(bytes)), 0);
  return std::string(bytes, 4);
}

uint32_t ResolvedSize(const PlanStep& step) {
  return step.size != 0 ? static_cast<uint32_t>(step.size) : OpenImage(step.resourceId).size;
}

TEST(FirmwarePackage, ImagesHaveTheirSizesAndStamps) {
  EXPECT_EQ(OpenImage(kBootImageId).size, 307200u);
  EXPECT_EQ(OpenImage(kPresetImageId).size, 110592u);
  EXPECT_EQ(OpenImage(kSystemImageId).size, 1064224u);
  EXPECT_EQ(OpenImage(kSystemInfoImageId).size, 4096u);
  EXPECT_EQ(OpenImage(kSubmcuImageId).size, 20480u);
  uint32_t total = 0;
  for (int id : kPackageImageIds) total += OpenImage(id).size;
  EXPECT_EQ(total, 1506592u);

  EXPECT_EQ(Stamp(139, 4064), "1.20");
  EXPECT_EQ(Stamp(142, 307196), "1.00");
  EXPECT_EQ(Stamp(147, 20448), "1.01");
  EXPECT_EQ(Stamp(133, 110588), "1.00");
  for (const StampLocation& location : StampLocations) {
    EXPECT_EQ(Stamp(location.resourceId, location.imageOffset), location.packageStamp);
  }
}

TEST(FirmwarePackage, StampAddressesLieInTheirRegions) {
  for (const StampLocation& location : StampLocations) {
    bool found = false;
    for (const FlashRegion& region : kFlashRegions) {
      if (region.resourceId != location.resourceId) continue;
      found = true;
      EXPECT_EQ(location.deviceAddress, region.address + location.imageOffset)
          << location.component;
    }
    EXPECT_TRUE(found) << location.component;
  }
}

TEST(ReadImageBytes, UnknownIdAndRangesPastTheEnd) {
  uint8_t destination[4] = {1, 2, 3, 4};
  EXPECT_EQ(ReadImageBytes(136, 0, 4, destination), -1);
  EXPECT_EQ(ReadImageBytes(0, 0, 4, destination), -1);
  EXPECT_EQ(ReadImageBytes(kSystemInfoImageId, 4093, 4, destination), -1);
  EXPECT_EQ(ReadImageBytes(kSystemInfoImageId, 0xFFFFFFFF, 4, destination), -1);
  EXPECT_EQ(ReadImageBytes(kSystemInfoImageId, 4, 0xFFFFFFFF, destination), -1);
  EXPECT_EQ(destination[0], 1);  // untouched after every refusal
  EXPECT_EQ(ReadImageBytes(kSystemInfoImageId, 4092, 4, destination), 0);
  EXPECT_EQ(ReadImageBytes(kSystemInfoImageId, 4096, 0, destination), 0);
  EXPECT_EQ(OpenImage(136).bytes, nullptr);
  EXPECT_EQ(OpenImage(136).size, 0u);
}

TEST(SanitizeStamp, PrintableStampsStayOthersBecomeStars) {
  auto sanitized = [](std::array<uint8_t, 4> bytes) {
    VersionStamp stamp{};
    std::memcpy(stamp.data(), bytes.data(), 4);
    EXPECT_EQ(SanitizeStamp(stamp), 0);
    EXPECT_EQ(stamp[4], '\0');
    return std::string(stamp.data());
  };
  EXPECT_EQ(sanitized({'1', '.', '2', '0'}), "1.20");
  EXPECT_EQ(sanitized({' ', '7', '.', '~'}), " 7.~");
  EXPECT_EQ(sanitized({0xFF, 0xFF, 0xFF, 0xFF}), "*.**");
  for (uint8_t bad : {0x00, 0x1F, 0x7F, 0x80}) {
    for (int position = 0; position < 4; ++position) {
      std::array<uint8_t, 4> bytes = {'1', '.', '2', '0'};
      bytes[position] = bad;
      EXPECT_EQ(sanitized(bytes), "*.**") << "byte " << int(bad) << " at " << position;
    }
  }
}

TEST(AcceptedDeviceCodes, TwoDistinctCodes) {
  auto accepted = [](std::array<uint8_t, 4> code) {
    for (const auto& entry : AcceptedDeviceCodes)
      if (entry == code) return true;
    return false;
  };
  EXPECT_EQ(AcceptedDeviceCodes[0], (std::array<uint8_t, 4>{0x4D, 0x00, 0x02, 0x00}));
  EXPECT_EQ(AcceptedDeviceCodes[1], (std::array<uint8_t, 4>{0x4D, 0x00, 0x12, 0x00}));
  EXPECT_TRUE(accepted({0x4D, 0x00, 0x12, 0x00}));
  EXPECT_TRUE(accepted({0x4D, 0x00, 0x02, 0x00}));
  EXPECT_FALSE(accepted({0x4D, 0x00, 0x22, 0x00}));
  EXPECT_FALSE(accepted({0x4E, 0x00, 0x02, 0x00}));
}

TEST(UpdatePlan, WriteStepsResolveAndChunkCounts) {
  std::vector<uint32_t> writes;
  int chunks = 0;
  int bootChunks = 0;
  for (const PlanStep& step : UpdatePlan) {
    if (step.kind != kWriteStep) continue;
    const uint32_t size = ResolvedSize(step);
    writes.push_back(size);
    const int stepChunks = static_cast<int>((size + 4095) / 4096);
    chunks += stepChunks;
    if (step.address == 0) bootChunks += stepChunks;
  }
  EXPECT_EQ(writes, (std::vector<uint32_t>{110592, 307200, 1064224, 20480, 4096}));
  EXPECT_EQ(chunks, 368);
  EXPECT_EQ(chunks - bootChunks, 293);
  EXPECT_EQ(1064224 % 4096, 3360);  // the SYSTEM image's last chunk

  // Only the BOOT steps sit at address 0; the info block is erased first and written last.
  int atZero = 0;
  for (const PlanStep& step : UpdatePlan) atZero += step.address == 0;
  EXPECT_EQ(atZero, 2);
  EXPECT_EQ(UpdatePlan.front().address, 0x170000);
  EXPECT_EQ(UpdatePlan.back().address, 0x170000);
  EXPECT_EQ(UpdatePlan.back().resourceId, kSystemInfoImageId);
}

TEST(UpdatePlan, EveryWriteFitsTheRegionErasedBeforeIt) {
  for (size_t i = 0; i < UpdatePlan.size(); ++i) {
    const PlanStep& write = UpdatePlan[i];
    if (write.kind != kWriteStep) continue;
    bool erasedBefore = false;
    for (size_t j = 0; j < i; ++j) {
      const PlanStep& erase = UpdatePlan[j];
      if (erase.kind == kEraseStep && erase.address == write.address) {
        erasedBefore = true;
        EXPECT_LE(ResolvedSize(write), static_cast<uint32_t>(erase.size)) << "step " << i + 1;
      }
    }
    EXPECT_TRUE(erasedBefore) << "step " << i + 1;
  }
}

TEST(TestPackage, ContentIsDistinctAndMatchesTheFilesInTheBuildTree) {
  const FirmwareImage info = OpenImage(kSystemInfoImageId);
  for (uint32_t i = 0; i < info.size; ++i) {
    const bool stampOrText = (i >= 4064 && i < 4068) || (i >= 4069 && i < 4096);
    if (!stampOrText) {
      ASSERT_EQ(info.bytes[i], 0xFF) << "offset " << i;
    }
  }
  if (IsTestPackage()) {
    for (int id : {kBootImageId, kPresetImageId, kSystemImageId, kSubmcuImageId}) {
      const FirmwareImage image = OpenImage(id);
      size_t erased = 0;
      for (uint32_t i = 0; i < image.size; ++i) erased += image.bytes[i] == 0xFF;
      EXPECT_LT(erased, image.size / 128) << id;  // random bytes, not erased flash
    }
    EXPECT_NE(0, std::memcmp(OpenImage(kBootImageId).bytes + 64,
                             OpenImage(kPresetImageId).bytes + 64, 64));
  }
  for (int id : kPackageImageIds) {
    std::ifstream file(std::string(KV5_FIRMWARE_FILES_DIR) + "/" + std::to_string(id) + ".bin",
                       std::ios::binary);
    ASSERT_TRUE(file) << id;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    const FirmwareImage image = OpenImage(id);
    ASSERT_EQ(bytes.size(), image.size) << id;
    EXPECT_EQ(0, std::memcmp(bytes.data(), image.bytes, image.size)) << id;
  }
}

}  // namespace
}  // namespace kv5
