#include "tools/kv5update/PlanStepText.h"

#include <cstdio>

#include "firmware/FirmwarePackage.h"
#include "session/StringTable.h"

namespace kv5 {

int PlanStepNumber(const std::string& counter) {
  const size_t slash = counter.find('/');
  if (slash == 0 || slash == std::string::npos ||
      counter.compare(slash + 1, std::string::npos, std::to_string(UpdatePlan.size())) != 0) {
    return -1;
  }
  int number = 0;
  for (size_t i = 0; i < slash; ++i) {
    if (counter[i] < '0' || counter[i] > '9') return -1;
    number = number * 10 + (counter[i] - '0');
  }
  return number <= static_cast<int>(UpdatePlan.size()) ? number : -1;
}

std::string PlanStepComponent(int step) {
  if (step < 1 || step > static_cast<int>(UpdatePlan.size())) return {};
  const uint32_t address = static_cast<uint32_t>(UpdatePlan[static_cast<size_t>(step - 1)].address);
  for (const FlashRegion& region : kFlashRegions) {
    if (region.address == address) return region.component;
  }
  return {};
}

std::string PlanStepAction(int step) {
  const std::string component = PlanStepComponent(step);
  if (component.empty()) return {};
  const PlanStep& each = UpdatePlan[static_cast<size_t>(step - 1)];
  char text[96];
  if (each.kind == kEraseStep) {
    std::snprintf(text, sizeof text, "erase %s (0x%06X, 0x%06X bytes)", component.c_str(),
                  static_cast<unsigned>(each.address), static_cast<unsigned>(each.size));
  } else {
    const uint32_t size =
        each.size != 0 ? static_cast<uint32_t>(each.size) : OpenImage(each.resourceId).size;
    std::snprintf(text, sizeof text, "write %s (%u bytes at 0x%06X)", component.c_str(),
                  static_cast<unsigned>(size), static_cast<unsigned>(each.address));
  }
  return text;
}

std::string StepLabel(const std::string& counter, const std::string& status) {
  const int number = PlanStepNumber(counter);
  if (number == 0 && status == LoadString(IDS_ERASING)) {
    return "[" + counter + "] Entering the firmware update mode";
  }
  const std::string component = PlanStepComponent(number);
  return "[" + counter + "] " + (component.empty() ? "" : component + ": ") + status;
}

}  // namespace kv5
