// The ALSA backend's tunables, in one place.
#pragma once

#include <string>

namespace kv5 {

struct AlsaConfig {
  // Where the per-device locks live; empty for the user's default lock folder.
  std::string lockFolder;
};

}  // namespace kv5
