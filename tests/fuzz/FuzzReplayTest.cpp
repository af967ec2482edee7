// The fuzz targets' bodies in the normal build: every seed, and every prefix of it (the length rule
// of each reader), must keep the contracts the targets check. A broken contract aborts the test.
#include <gtest/gtest.h>

#include <map>

#include "FuzzTargets.h"
#include "SeedCorpus.h"

namespace kv5::fuzz {
namespace {

using Entry = int (*)(const uint8_t*, size_t);

const std::map<std::string, Entry>& Entries() {
  static const std::map<std::string, Entry> entries = {
      {"dispatch_reply", &FuzzDispatchReply}, {"poller_queue", &FuzzPollerQueue},
      {"unpack7in8", &FuzzUnpack7in8},        {"unit_request_parser", &FuzzUnitRequestParser},
      {"unit_responder", &FuzzUnitResponder},
  };
  return entries;
}

TEST(FuzzReplay, EveryTargetHasSeeds) {
  for (const std::string& target : FuzzTargetNames()) {
    EXPECT_EQ(Entries().count(target), 1u) << target;
    EXPECT_FALSE(SeedCorpus(target).empty()) << target;
  }
}

TEST(FuzzReplay, SeedsAndTheirPrefixesKeepTheContracts) {
  for (const auto& [target, entry] : Entries()) {
    for (const SeedInput& seed : SeedCorpus(target)) {
      SCOPED_TRACE(target + "/" + seed.name);
      // A fresh unit per input is costly; the responder sees whole seeds only.
      const size_t shortest = target == "unit_responder" ? seed.bytes.size() : 0;
      for (size_t length = shortest; length <= seed.bytes.size(); ++length) {
        // An exact-size copy, so a read past the given length shows under the sanitizers.
        const std::vector<uint8_t> input(seed.bytes.begin(), seed.bytes.begin() + length);
        EXPECT_EQ(entry(input.data(), input.size()), 0);
      }
    }
  }
}

}  // namespace
}  // namespace kv5::fuzz
