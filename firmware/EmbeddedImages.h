// The images as the build links them in: generated data on Linux, "BIN" resources on Windows.
#pragma once

#include "firmware/FirmwarePackage.h"

namespace kv5 {

FirmwareImage EmbeddedImage(int resourceId);
bool EmbeddedPackageIsSynthetic();

}  // namespace kv5
