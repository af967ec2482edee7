#include "session/VersionTable.h"

namespace kv5 {
namespace {

// One line of a component other than SYSTEM: the unit's stamp, and the image's after an arrow
// when the image's is known and differs.
void AppendLine(std::string& text, const char* label, const std::string& unit,
                const std::string& image) {
  text += "\n";
  text += label;
  text += ":\t\t";
  text += unit;
  if (!image.empty() && image != unit) {
    text += " -> ";
    text += image;
  }
}

}  // namespace

std::string VersionReport(const VersionTable& table) {
  const auto& slot = table.slots;
  // The SYSTEM line always shows both stamps.
  std::string text =
      "SYSTEM:\t\t" + slot[VersionTable::UnitSystem] + " -> " + slot[VersionTable::ImageSystem];
  AppendLine(text, "PRESET", slot[VersionTable::UnitPreset], slot[VersionTable::ImagePreset]);
  AppendLine(text, "BOOT", slot[VersionTable::UnitBoot], slot[VersionTable::ImageBoot]);
  AppendLine(text, "SUBMCU", slot[VersionTable::UnitSubmcu], slot[VersionTable::ImageSubmcu]);
  return text;
}

}  // namespace kv5
