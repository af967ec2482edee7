#include "tools/kv5update/TestPackageGuard.h"

#include "firmware/FirmwarePackage.h"

namespace kv5 {

bool AllowTestPackageWrite(bool writeTestPackage, bool inProcessUnit, bool quiet,
                           std::ostream& err) {
  if (!IsTestPackage()) return true;
  if (!quiet) {
    err << "Warning: this build carries the synthetic test package; it is not firmware for a "
           "real unit.\n";
  }
  if (inProcessUnit || writeTestPackage) return true;
  err << "Refusing to write it to a MIDI device without --yes-write-test-package.\n";
  return false;
}

}  // namespace kv5
