#include "app/InstanceSlots.h"

#include <cstdio>

#include "ui/InstanceNames.h"

namespace kv5 {

int ClaimFirstFreeSlot(const ClaimFunction& claim, std::unique_ptr<InstanceLock>* held) {
  for (int slot = 1; slot <= kMaxInstances; ++slot) {
    std::unique_ptr<InstanceLock> lock;
    if (claim(InstanceTitle(slot), &lock) == ClaimResult::Created && lock) {
      *held = std::move(lock);
      return slot;
    }
  }
  return 0;
}

std::string TooManyInstancesMessage() {
  char text[96];
  std::snprintf(text, sizeof text,
                "It is forbidden to launch more than %d instance of this application.",
                kMaxInstances);
  return text;
}

}  // namespace kv5
