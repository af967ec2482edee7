// Seed inputs for the fuzz targets, made from the protocol's own messages: what the unit sends the
// host (replies, its own requests) for the poller's targets, what the host sends the unit for the
// unit's targets, and packed blocks for the encoding's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv5::fuzz {

struct SeedInput {
  std::string name;
  std::vector<uint8_t> bytes;
};

// target: "dispatch_reply", "poller_queue", "unpack7in8", "unit_request_parser" or
// "unit_responder"; an unknown name has no seeds.
std::vector<SeedInput> SeedCorpus(const std::string& target);

const std::vector<std::string>& FuzzTargetNames();

}  // namespace kv5::fuzz
