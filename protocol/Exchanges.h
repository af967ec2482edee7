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

// Reads 4 bytes at a device address into destination: 0 on success, -1 on any failure
// (ReplyStatus is 255 afterwards exactly when an abort ended the wait).
int ReadDeviceMemory(ExchangeState& state, SysexSender& sender, const SessionTiming& timing,
                     uint32_t address, uint32_t length, uint8_t* destination);

}  // namespace kv5
