// A stand-in for a copy of the updater in slot tests: claims the first free instance slot with the
// real lock, prints the slot (0 and the refusal when none is free) and holds it until its standard
// input closes.
#include <cstdio>
#include <memory>

#include "app/InstanceSlots.h"

int main() {
  std::unique_ptr<kv5::InstanceLock> held;
  const int slot = kv5::ClaimFirstFreeSlot(&kv5::ClaimInstanceLock, &held);
  std::printf("%d\n", slot);
  if (slot == 0) std::printf("%s\n", kv5::TooManyInstancesMessage().c_str());
  std::fflush(stdout);
  if (slot == 0) return 3;
  while (std::getchar() != EOF) {
  }
  return 0;
}
