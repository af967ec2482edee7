#include "platform/midi/alsa/BridgePacer.h"

#include <algorithm>

#include "platform/midi/common/CardMidiState.h"

namespace kv5 {

BridgePacer::BridgePacer(const RawMidiAddress& card, const AlsaConfig& config)
    : card_(card),
      recheck_(std::chrono::microseconds(config.bridgeRecheckUs)),
      line_(config.lineBufferBytes, config.lineBytesPerSecond) {}

OutputPacer::Clock::duration BridgePacer::DelayBefore(size_t bytes, Clock::time_point now) {
  if (!readable_) return line_.DelayBefore(bytes, now);
  if (room_ >= bytes) return Clock::duration::zero();
  const auto state = ReadRawOutputState(card_.card, card_.device, card_.subdevice);
  if (!state) {
    readable_ = false;
    return line_.DelayBefore(bytes, now);
  }
  room_ = state->freeBytes;
  // A piece larger than the whole buffer can only wait for it to empty.
  if (room_ >= std::min(bytes, state->bufferBytes)) return Clock::duration::zero();
  return recheck_;
}

void BridgePacer::Sent(size_t bytes, Clock::time_point now) {
  room_ -= std::min(room_, bytes);
  line_.Sent(bytes, now);
}

}  // namespace kv5
