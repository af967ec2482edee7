#include "ui/OwnerNotices.h"

#include "firmware/FirmwarePackage.h"

namespace kv5 {

std::string TestPackageQuestion() {
  std::string stamps;
  for (const StampLocation& stamp : StampLocations) {
    if (!stamps.empty()) stamps += ", ";
    stamps += std::string(stamp.component) + " " + stamp.packageStamp;
  }
  return "This build carries the synthetic test package, not firmware: pseudo-random bytes with "
         "the version stamps " +
         stamps +
         ".\n\nExecute writes it into the flash of the unit on the selected devices. A real "
         "TELVOR Q9 is unusable afterwards, until real firmware is written. Write it only to "
         "the virtual unit.\n\nWrite the test package now?";
}

std::string UpdateFailureAdvice(bool deviceGone) {
  const std::string stays =
      "The unit stays in its firmware update mode until an update completes. ";
  if (deviceGone) {
    return stays +
           "Connect it again, press Rescan Device and run the update again: it starts over and "
           "recovers the unit.";
  }
  return stays + "Run the update again: it starts over and recovers the unit.";
}

}  // namespace kv5
