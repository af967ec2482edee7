// The firmware package the program carries: five images found by resource id, the unit's flash
// map, the fixed ten-step update plan, where the version stamps live, and the device codes a
// unit must report before the package may be written to it.
#pragma once

#include <array>
#include <cstdint>

namespace kv5 {

// Resource ids of the images.
constexpr int kSystemImageId = 129;
constexpr int kPresetImageId = 133;
constexpr int kSystemInfoImageId = 139;
constexpr int kBootImageId = 142;
constexpr int kSubmcuImageId = 147;
constexpr std::array<int, 5> kPackageImageIds = {kSystemImageId, kPresetImageId, kSystemInfoImageId,
                                                 kBootImageId, kSubmcuImageId};

// A read-only view of an image's bytes, valid for the whole run.
struct FirmwareImage {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
};

// One region of the unit's flash that the plan erases, and the image written into it.
struct FlashRegion {
  const char* component;
  uint32_t address;
  uint32_t size;
  int resourceId;
  uint32_t imageSize;  // bytes of the image; the rest of the region stays erased
};

constexpr uint32_t kFlashSize = 0x200000;  // 2 MiB, addresses 0x000000..0x1FFFFF

constexpr std::array<FlashRegion, 5> kFlashRegions = {{
    {"BOOT", 0x000000, 0x4B000, kBootImageId, 307200},
    {"PRESET", 0x04B000, 0x1B000, kPresetImageId, 110592},
    {"SYSTEM", 0x066000, 0x10A000, kSystemImageId, 1064224},
    {"SYSTEM info block", 0x170000, 0x1000, kSystemInfoImageId, 4096},
    {"SUBMCU", 0x1C7000, 0x5000, kSubmcuImageId, 20480},
}};

// A version stamp is four ASCII characters; held in memory with a NUL after them.
using VersionStamp = std::array<char, 5>;

struct StampLocation {
  const char* component;
  uint32_t deviceAddress;
  int resourceId;
  uint32_t imageOffset;
  const char* packageStamp;  // what this package's image holds there
};

constexpr std::array<StampLocation, 4> StampLocations = {{
    {"SYSTEM", 0x170FE0, kSystemInfoImageId, 4064, "1.20"},
    {"PRESET", 0x065FFC, kPresetImageId, 110588, "1.00"},
    {"BOOT", 0x04AFFC, kBootImageId, 307196, "1.00"},
    {"SUBMCU", 0x1CBFE0, kSubmcuImageId, 20448, "1.01"},
}};
inline constexpr const StampLocation& kSystemStamp = StampLocations[0];
inline constexpr const StampLocation& kPresetStamp = StampLocations[1];
inline constexpr const StampLocation& kBootStamp = StampLocations[2];
inline constexpr const StampLocation& kSubmcuStamp = StampLocations[3];

constexpr int32_t kEraseStep = 1;
constexpr int32_t kWriteStep = 2;

struct PlanStep {
  int32_t kind;        // kEraseStep or kWriteStep
  int32_t address;     // first byte of the region erased, or where the image's first byte goes
  int32_t size;        // erase: region length; write: bytes from the image's start, 0 = all
  int32_t resourceId;  // image written; 0 in erase steps
};

// Executed strictly in this order. The SYSTEM info block, which holds the SYSTEM stamp, is
// erased first and written last; every other region is erased right before it is written.
constexpr std::array<PlanStep, 10> UpdatePlan = {{
    {kEraseStep, 0x170000, 0x1000, 0},
    {kEraseStep, 0x04B000, 0x1B000, 0},
    {kWriteStep, 0x04B000, 0, kPresetImageId},
    {kEraseStep, 0x000000, 0x4B000, 0},
    {kWriteStep, 0x000000, 0, kBootImageId},
    {kEraseStep, 0x066000, 0x10A000, 0},
    {kWriteStep, 0x066000, 0, kSystemImageId},
    {kEraseStep, 0x1C7000, 0x5000, 0},
    {kWriteStep, 0x1C7000, 0x5000, kSubmcuImageId},
    {kWriteStep, 0x170000, 0, kSystemInfoImageId},
}};

// Compared in this order; the third entry repeats the first.
constexpr std::array<std::array<uint8_t, 4>, 3> AcceptedDeviceCodes = {{
    {0x4D, 0x00, 0x02, 0x00},
    {0x4D, 0x00, 0x12, 0x00},
    {0x4D, 0x00, 0x02, 0x00},
}};

// The image with that id; an empty view (nullptr, 0) when the package holds none.
FirmwareImage OpenImage(int resourceId);

// Where OpenImage and ReadImageBytes find images. The embedded package unless a test sets a
// package of its own (one the real build never holds, such as one without an image); nullptr
// sets the embedded package again. Not to be changed while a session runs.
using ImageLookup = FirmwareImage (*)(int resourceId);
void SetImageLookup(ImageLookup lookup);

// Copies count bytes from offset of the image: 0 after copying, -1 when the package holds no
// such image or the bytes would run past its end (the destination is then untouched).
int ReadImageBytes(int resourceId, uint32_t offset, uint32_t count, uint8_t* destination);

// Replaces a stamp read from the unit by "*.**" when any of its four bytes is not printable
// ASCII (0x20..0x7E). Always 0.
int SanitizeStamp(VersionStamp& stamp);

// True when the build embeds the generated test package rather than a real release.
bool IsTestPackage();
// How the package names itself to a person: "synthetic test package" or "firmware release".
const char* PackageDescription();

}  // namespace kv5
