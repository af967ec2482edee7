// The messages of the update protocol in words, for the support log: what kind each is, its
// fields, and its bytes (a long message shortened to its head and its tail).
#pragma once

#include <cstdint>
#include <string>

namespace kv5 {

enum class Direction { Sent, Received };

// What kind a message is, the same for every try of one request: "erase", "write", "identity",
// ...; "" for anything that is not a request of the host.
std::string RequestKind(const uint8_t* bytes, uint32_t length);
// Addresses of a request, so that a resend is told from the next request of its kind.
uint32_t RequestAddress(const uint8_t* bytes, uint32_t length);
// "erase 0x170000 size 0x1000", "write 0x04B000 len 4096 CRC 0x1A2B3C4D", "result code 0
// (accepted)", ... A unit's result code is decoded where its meaning is known: 0 and 11 for any
// unit, and (virtualUnitCodes) the codes by which the virtual unit says why it refused.
std::string DescribeMessage(const uint8_t* bytes, uint32_t length, Direction direction,
                            bool virtualUnitCodes = false);
// "F0 7E 00 06 01 F7"; past maxHead bytes the middle gives way to "... (N bytes) ..." and the
// last tail bytes (the checksum and F7 of a write).
std::string HexBytes(const uint8_t* bytes, uint32_t length, uint32_t maxHead = 24,
                     uint32_t tail = 6);

}  // namespace kv5
