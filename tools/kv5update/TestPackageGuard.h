// The command line's guard of the synthetic test package: said on every update, and written to a
// MIDI device only with --yes-write-test-package (the in-process virtual unit takes it freely).
#pragma once

#include <ostream>

namespace kv5 {

// Prints the warning when the build carries the test package (unless quiet); false after printing
// the refusal.
bool AllowTestPackageWrite(bool writeTestPackage, bool inProcessUnit, bool quiet,
                           std::ostream& err);

}  // namespace kv5
