// The bodies of the fuzz targets, as plain functions: libFuzzer programs call them with each
// input, and the replay test calls them with the seed corpus and the inputs of past crashes. A
// broken contract aborts with a line that names it, which libFuzzer reports as a crash.
#pragma once

#include <cstddef>
#include <cstdint>

// Keeps a harness function out of the fuzzer's coverage and comparison tracing.
#if defined(__clang__)
#define KV5_FUZZ_NOT_TRACED __attribute__((no_sanitize("coverage")))
#else
#define KV5_FUZZ_NOT_TRACED
#endif

namespace kv5::fuzz {

// One received message of any length and content through DispatchReply.
int FuzzDispatchReply(const uint8_t* data, size_t size);
// Several messages (the input split after each F7) through the received queue and ReplyPoller.
int FuzzPollerQueue(const uint8_t* data, size_t size);
// The input as a packed block through Unpack7in8, and as raw bytes through Pack7in8 and back.
int FuzzUnpack7in8(const uint8_t* data, size_t size);
// The virtual unit's reading of one received message.
int FuzzUnitRequestParser(const uint8_t* data, size_t size);
// Several messages through a fresh virtual unit that has entered update mode.
int FuzzUnitResponder(const uint8_t* data, size_t size);

// Prints the broken contract and aborts.
[[noreturn]] void ContractBroken(const char* what);
inline void Require(bool holds, const char* what) {
  if (!holds) ContractBroken(what);
}

}  // namespace kv5::fuzz
