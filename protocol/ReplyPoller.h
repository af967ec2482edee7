// The reply poller: run on every tick of the 1 ms timer, it drains the received queue, records
// each reply's outcome in the exchange state, signals the waiting exchange and answers the
// unit's own requests.
#pragma once

#include <cstdint>

#include "protocol/ExchangeState.h"
#include "protocol/ReceivedSysexQueue.h"
#include "protocol/SysexSender.h"
#include "protocol/TrafficTap.h"

namespace kv5 {

// Handles every entry queued (also those that arrive while it runs), popping each after it. A tap,
// when given, sees each entry before it is dispatched.
void ReplyPoller(ReceivedSysexQueue& queue, ExchangeState& state, SysexSender& sender,
                 TrafficTap* tap = nullptr);

// Handles one received message of the given length.
void DispatchReply(const uint8_t* message, uint32_t length, ExchangeState& state,
                   SysexSender& sender);

}  // namespace kv5
