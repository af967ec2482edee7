// kv5_device_lock_probe SPACE KEY: claims one device lock as another process would; exit status 0
// held, 1 taken, 2 unavailable.
#include <memory>

#include "platform/midi/common/DeviceLock.h"

int main(int argc, char** argv) {
  if (argc != 3) return 64;
  std::unique_ptr<kv5::DeviceLock> held;
  return static_cast<int>(kv5::ClaimDeviceLock(argv[2], &held, argv[1]));
}
