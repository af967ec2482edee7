// Recent Windows MIDI stacks drop or refuse SysEx buffers of 2049 bytes and more, so the winmm
// output hands a long message to the device in consecutive pieces that are each small enough;
// the bytes on the wire stay the same.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/midi/MidiServices.h"

namespace kv5 {

// Sends one piece and returns when the device has finished with it.
using PieceSender = std::function<MidiResult(const uint8_t* bytes, uint32_t length)>;

// Hands bytes[0, length) to send in order, in pieces of at most maxPiece bytes, every piece but
// the last a multiple of 3 bytes (2046 for pieces of 2048). Stops at the
// first piece that fails and returns its result; stops early, with success, once cancelled()
// turns true after a piece. An empty message is refused.
MidiResult SendInPieces(const uint8_t* bytes, uint32_t length, uint32_t maxPiece,
                        const PieceSender& send, const std::function<bool()>& cancelled);

}  // namespace kv5
