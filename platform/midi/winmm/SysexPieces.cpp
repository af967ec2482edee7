#include "platform/midi/winmm/SysexPieces.h"

#include <algorithm>

namespace kv5 {

MidiResult SendInPieces(const uint8_t* bytes, uint32_t length, uint32_t maxPiece,
                        const PieceSender& send, const std::function<bool()>& cancelled) {
  if (bytes == nullptr || length == 0 || maxPiece == 0) return MMSYSERR_INVALPARAM;
  // Drivers that pack a buffer into 3-byte USB-MIDI SysEx packets end it with a short packet
  // unless its length is a multiple of 3; only the last piece may do so.
  const uint32_t step = maxPiece >= 3 ? maxPiece - maxPiece % 3 : maxPiece;
  for (uint32_t offset = 0; offset < length;) {
    const uint32_t piece = std::min(step, length - offset);
    const MidiResult result = send(bytes + offset, piece);
    if (result != MMSYSERR_NOERROR) return result;
    offset += piece;
    if (offset < length && cancelled()) break;
  }
  return MMSYSERR_NOERROR;
}

}  // namespace kv5
