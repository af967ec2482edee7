// The names that depend on the instance slot of this process (1..20).
#pragma once

#include <string>
#include <vector>

namespace kv5 {

constexpr int kMaxInstances = 20;
inline constexpr const char* kProductTitle = "TELVOR Q9 System v1.20 Updater";

// Window title and instance lock name: the product name for slot 1, the name followed by a blank
// and the slot number in parentheses for slots 2..20.
std::string InstanceTitle(int instanceIndex);

// The device names a slot preselects, in table order: the localised USB audio name, "USB Audio
// Device" and "TELVOR Q9", each with the same slot suffix as the title for slots 2..20.
std::vector<std::string> DeviceNameCandidates(int instanceIndex);

}  // namespace kv5
