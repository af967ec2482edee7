#include "session/VersionTable.h"

#include <iterator>

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
  // The SYSTEM line (the first) always shows both stamps.
  const VersionComponent& system = kVersionComponents[0];
  std::string text =
      std::string(system.name) + ":\t\t" + slot[system.unit] + " -> " + slot[system.image];
  for (size_t i = 1; i < std::size(kVersionComponents); ++i) {
    const VersionComponent& each = kVersionComponents[i];
    AppendLine(text, each.name, slot[each.unit], slot[each.image]);
  }
  return text;
}

}  // namespace kv5
