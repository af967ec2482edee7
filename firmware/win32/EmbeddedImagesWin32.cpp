// The images as resources of type "BIN" in the program's own module, used in place: a resource
// stays mapped for the whole run, so the view never dangles.
#include <windows.h>

#include "firmware/EmbeddedImages.h"

namespace kv5 {

FirmwareImage EmbeddedImage(int resourceId) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(resourceId), "BIN");
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (loaded == nullptr) return {};
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return {};
  return {static_cast<const uint8_t*>(bytes),
          static_cast<uint32_t>(SizeofResource(nullptr, found))};
}

bool EmbeddedPackageIsSynthetic() {
  return KV5_PACKAGE_IS_SYNTHETIC;
}

}  // namespace kv5
