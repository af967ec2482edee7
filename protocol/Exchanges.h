// The two exchanges both sessions use: identifying the unit and reading 4 bytes of its memory.
#pragma once

#include <cstdint>

#include "protocol/ExchangeState.h"
#include "protocol/SessionTiming.h"
#include "protocol/SysexSender.h"

namespace kv5 {

enum class IdentifyOutcome { SendFailed, TimedOut, Aborted, Refused, NotAccepted, Identified };

// Sends the identity request, waits for the reply, and accepts the unit when its device code is
// one of the package's accepted codes. DeviceCode holds the reported code afterwards either way.
IdentifyOutcome IdentifyUnit(ExchangeState& state, SysexSender& sender,
                             const SessionTiming& timing);

// Reads length bytes at a device address into destination (a 4-byte stamp, or up to one chunk
// read back): 0 when replies carrying at least those bytes were accepted, -1 on any failure
// (Aborted() tells an abort from the rest).
int ReadDeviceMemory(ExchangeState& state, SysexSender& sender, const SessionTiming& timing,
                     uint32_t address, uint32_t length, uint8_t* destination);

}  // namespace kv5
