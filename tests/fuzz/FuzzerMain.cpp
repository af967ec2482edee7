// The libFuzzer entry of one target; KV5_FUZZ_ENTRY names its body (see FuzzTargets.h).
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kv5::fuzz::KV5_FUZZ_ENTRY(data, size);
}
