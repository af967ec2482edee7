// The stamps a version check shows: the unit's (sanitised) beside the package's images'.
#pragma once

#include <array>
#include <string>

namespace kv5 {

struct VersionTable {
  enum Slot {
    UnitSubmcu = 0,
    UnitBoot = 1,
    UnitPreset = 2,
    UnitSystem = 3,
    ImageSubmcu = 4,
    ImageBoot = 5,
    ImagePreset = 6,
    ImageSystem = 7,
  };
  std::array<std::string, 8> slots;
};

// The components in the report's order, with the slots of their two stamps.
struct VersionComponent {
  const char* name;
  VersionTable::Slot unit;
  VersionTable::Slot image;
};
inline constexpr VersionComponent kVersionComponents[] = {
    {"SYSTEM", VersionTable::UnitSystem, VersionTable::ImageSystem},
    {"PRESET", VersionTable::UnitPreset, VersionTable::ImagePreset},
    {"BOOT", VersionTable::UnitBoot, VersionTable::ImageBoot},
    {"SUBMCU", VersionTable::UnitSubmcu, VersionTable::ImageSubmcu},
};

inline constexpr const char* kVersionReportCaption = "Version Information";

// The report box's text: the SYSTEM line always with both stamps and the arrow; the other lines
// with the arrow and the image stamp only when that stamp is not empty and differs.
std::string VersionReport(const VersionTable& table);

}  // namespace kv5
